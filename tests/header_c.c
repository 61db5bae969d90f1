/* Compiled as C99: the public header is plain C. */
#include "talvine/talvine.h"

static void TALVINE_CALL callback(int32_t c, int32_t a, int32_t b, int32_t d, int32_t e, int32_t n,
                                  intptr_t p, int32_t m, int32_t f) {
    (void)c; (void)a; (void)b; (void)d; (void)e; (void)n; (void)p; (void)m; (void)f;
}

typedef char pixel_is_three_bytes[sizeof(TPtImg) == 3 ? 1 : -1];
typedef char nine_commands[TALVINE_CMD_PERSPECTIVE == TALVINE_NB_COMMANDES ? 1 : -1];
typedef char codesel_fields[TALVINE_CODESEL_CHAMPS == 4 ? 1 : -1];

void talvine_header_c_check(void);
void talvine_header_c_check(void) {
    TProcRetour r = callback;
    (void)r;
    (void)sizeof(pixel_is_three_bytes);
    (void)sizeof(nine_commands);
    (void)sizeof(codesel_fields);
    (void)(TALVINE_SOUSMODE_RAPPORT - TALVINE_SOUSMODE_OUVRIR);
}
