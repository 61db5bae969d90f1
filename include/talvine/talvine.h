/*
 * Talvine: the contract between a host image editor and the Talvine
 * picture-geometry plug-in.
 *
 * The host loads the module, registers one callback with AdrRetour, reads the
 * version and menu title with PrmDLL, lists the commands with AddMenu and runs
 * them with XchgData.  Everything here is plain C; this header is the whole
 * interface and also describes the 32-bit Windows layout exactly (every slot
 * is 32 bits there).
 *
 * Threading: every entry point and every callback runs on the host's
 * user-interface thread.  No exception or error ever crosses an entry point.
 */
#ifndef TALVINE_TALVINE_H
#define TALVINE_TALVINE_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define TALVINE_CALL __stdcall
#else
#define TALVINE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One pixel: three 8-bit channels in the host's order, no gap, no alignment.
 * The library never tells the channels apart; white is 255, 255, 255. */
typedef struct TPtImg {
    uint8_t octets[3];
} TPtImg;

/* A picture: a handle to a reference-counted array of TPtImg.
 *
 * The handle is the address of the first element of one block obtained from
 * the process-wide shared allocator (see TBlocPartage below):
 *
 *     handle - 8 : reference count, int32_t, changed atomically
 *     handle - 4 : element count, int32_t
 *     handle     : the elements, 3 bytes each, contiguous
 *
 * The empty array is the null handle.  Pixel (x, y) of a picture of width W
 * is element y * W + x (row-major, top row first).  A holder that takes a
 * reference adds 1; the one that brings the count to 0 frees the block. */
typedef TPtImg* TPtsImg;

/* Kinds of callback (argument Nature). */
enum {
    rtImage = 0,  /* a picture is in the buffer (Fin 0: preview, Fin 1: the end) */
    rtSaisie = 1, /* a modeless dialog opens: let the user pick (Param 0 points, 1 rectangle) */
    rtCadre = 2,  /* show the rectangle Pt1 .. Pt2 (right and bottom exclusive) */
    rtFormat = 4  /* constrain the rectangle selection: Param = format index * 256 + 1 */
};

/* The host's callback.  Pt1 and Pt2 are points (x, y) passed as separate
 * scalars in slot order.  Modifiee: only its low byte is meaningful.
 * Param: 0, or the handle of a new TPtsImg at the end of a resize. */
typedef void(TALVINE_CALL* TProcRetour)(int32_t Contexte, int32_t Pt1X, int32_t Pt1Y,
                                        int32_t Pt2X, int32_t Pt2Y, int32_t Nature,
                                        intptr_t Param, int32_t Modifiee, int32_t Fin);

/* Registers the host's callback and an opaque context value that is passed back
 * as the first argument of every callback.  Replaces any earlier pair.  Commands
 * run without a registered callback simply make no callback. */
void TALVINE_CALL AdrRetour(TProcRetour Retour, int32_t Contexte);

/* Writes the major and minor version numbers (read from the module's own
 * version record) and the address of the menu title "Géométrie" (code page
 * 1252); returns the address of the library's description.  When the record
 * cannot be read, writes 0 and 0.  The texts stay valid while the module is
 * loaded.  Any pointer argument may be null. */
const char* TALVINE_CALL PrmDLL(int32_t* Majeur, int32_t* Mineur, const char** Titre);

/* Menu enumeration.  *Index == 0: writes the number of commands (9) into
 * *Index and returns the menu title.  *Index in 1..9: returns that command's
 * caption (code page 1252), *Index unchanged.  Anything else: returns null. */
const char* TALVINE_CALL AddMenu(int32_t* Index);

/* Runs or feeds command NumCmd (1..9).
 *   SousMode 0: start the command on Img, a picture of Largeur x Hauteur.
 *   SousMode 1: a report from the host: a picked point in Pt2 (commands 3
 *               and 9) or a selection rectangle Pt1 + Largeur x Hauteur with
 *               CodeSel (command 6), the host's current buffer in ImgHote.
 * The library takes its own references on Img and ImgHote for the call.
 * A picture whose size is negative, whose Largeur x Hauteur overflows 32 bits,
 * or whose array holds fewer than Largeur x Hauteur elements is refused: the
 * call does nothing and makes no callback.  Reserve1 and Reserve2 are never
 * read. */
void TALVINE_CALL XchgData(int32_t NumCmd, int32_t Pt1X, int32_t Pt1Y, int32_t Pt2X,
                           int32_t Pt2Y, int32_t Largeur, int32_t Hauteur, int32_t SousMode,
                           int32_t CodeSel, TPtsImg Img, TPtsImg ImgHote, int32_t Reserve1,
                           int32_t Reserve2);

#ifdef __cplusplus
}
#endif

#endif /* TALVINE_TALVINE_H */
