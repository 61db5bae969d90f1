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

/* The commands, by number (NumCmd): their places in the menu. */
enum {
    TALVINE_CMD_ROTATION_ANTI_HORAIRE = 1,
    TALVINE_CMD_ROTATION_HORAIRE = 2,
    TALVINE_CMD_INCLINAISON = 3, /* modeless: points picked */
    TALVINE_CMD_MIROIR_HORZ = 4,
    TALVINE_CMD_MIROIR_VERT = 5,
    TALVINE_CMD_ROGNER = 6,         /* modeless: a rectangle selected */
    TALVINE_CMD_REDIMENSIONNER = 7, /* modal */
    TALVINE_CMD_DISTORSION = 8,     /* modal */
    TALVINE_CMD_PERSPECTIVE = 9,    /* modeless: points picked */
    TALVINE_NB_COMMANDES = 9
};

/* SousMode of XchgData. */
enum {
    TALVINE_SOUSMODE_OUVRIR = 0, /* start the command */
    TALVINE_SOUSMODE_RAPPORT = 1 /* a pick reported to an open modeless dialog */
};

/* CodeSel of a selection reported to the crop dialog: its fields show the
 * selection too (any other value: the rectangle alone follows it). */
#define TALVINE_CODESEL_CHAMPS 4

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

/* The shared allocator block, TBlocPartage.
 *
 * Every module of the process (the host and each plug-in) must allocate and
 * free pixel arrays through one allocator.  The first module to start
 * publishes its allocator in a block of one page at a computed address; every
 * later module finds the block there and routes its allocations through it.
 * A host that links none of Talvine's code can publish or use the block from
 * this header alone.
 *
 * Slots are pointer-sized (P = 4 bytes on 32-bit systems, 8 on 64-bit),
 * little-endian:
 *
 *     offset       size  field
 *     0            4     Compteur: modules now using the block, publisher included
 *     4            4     unused (0)
 *     8            4     first signature, low word:   process id ^ 0x4567FEED
 *     12           4     first signature, high word:  0xBABE0123
 *     16           P     allocate entry
 *     16 + P       P     free entry
 *     16 + 2P      P     reallocate entry
 *     16 + 3P      P     unused (0)
 *     16 + 4P      4     second signature, low word:  process id ^ 0x3210B00B
 *     20 + 4P      4     second signature, high word: 0xF00D7654
 *
 * (32-bit: the entries at 16, 20, 24, the second signature at 32 and 36;
 * 64-bit: the entries at 16, 24, 32, the second signature at 48 and 52.)  The
 * rest of the page is unused.  The process id is the system's 32-bit id of
 * the current process.  A block is valid only when all four signature words
 * match the current process.
 *
 * Candidate addresses: take the highest address available to applications
 * (on x86-64 Linux 0x7FFFFFFFFFFF), clear its low 16 bits, then step down by
 * TALVINE_PARTAGE_PAS bytes, TALVINE_PARTAGE_ESSAIS candidates in all; round
 * each down to a multiple of the page size.  For each candidate in turn:
 *   - ask the system for one read/write page exactly there (Linux: mmap with
 *     MAP_FIXED_NOREPLACE); if granted there, publish: write the three entries,
 *     both signatures, and Compteur = 1;
 *   - if refused and the candidate holds a valid block, use it: allocate
 *     through its entries from then on and add 1 to Compteur;
 *   - otherwise (refused, or granted somewhere else) try the next candidate.
 * At shut-down a user subtracts 1 from Compteur and returns to its own
 * allocator.  The publisher subtracts 1 and releases the page only when
 * Compteur is then 0; while users remain, the block and the publisher's
 * entries must stay in place and callable (Talvine keeps the publisher's code
 * loaded for that).  Start-up and shut-down run while the system loads or
 * unloads the module.
 *
 * The entries use the platform's C calling convention:
 *   allocate(size): size > 0 bytes; a new block, or null when memory is exhausted;
 *   free(block): 0 on success, anything else on failure;
 *   reallocate(block, size): the block resized to size bytes (possibly moved),
 *     content kept up to the smaller size; null on failure (block untouched). */
typedef void* (*TPartageAllouer)(intptr_t Taille);
typedef int (*TPartageLiberer)(void* Bloc);
typedef void* (*TPartageReallouer)(void* Bloc, intptr_t Taille);

typedef struct TBlocPartage {
    int32_t Compteur;
    int32_t Inutilise1;
    uint32_t Signature1Bas;
    uint32_t Signature1Haut;
    TPartageAllouer Allouer;
    TPartageLiberer Liberer;
    TPartageReallouer Reallouer;
    void* Inutilise2;
    uint32_t Signature2Bas;
    uint32_t Signature2Haut;
} TBlocPartage;

#define TALVINE_PARTAGE_SIGNATURE1_BAS_XOR 0x4567FEEDu
#define TALVINE_PARTAGE_SIGNATURE1_HAUT 0xBABE0123u
#define TALVINE_PARTAGE_SIGNATURE2_BAS_XOR 0x3210B00Bu
#define TALVINE_PARTAGE_SIGNATURE2_HAUT 0xF00D7654u
#define TALVINE_PARTAGE_PAS 65536u
#define TALVINE_PARTAGE_ESSAIS 16

#ifdef __cplusplus
}
#endif

#endif /* TALVINE_TALVINE_H */
