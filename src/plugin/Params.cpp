// The four entry points of the module, the command table and the dispatch of
// a command.  No exception leaves this file: each entry point has one guard.
#include "plugin/Params.h"

#include "core/ExtendedPrecision.h"
#include "core/Host.h"
#include "core/ParamCoul.h"
#include "dialogs/CorrDistor.h"
#include "dialogs/DecoupImg.h"
#include "dialogs/Dialogs.h"
#include "dialogs/ModifAngle.h"
#include "dialogs/Perspective.h"
#include "dialogs/TailleImg.h"
#include "platform/VersionInfo.h"
#include "plugin/Library.h"
#include "plugin/RotImg.h"
#include "plugin/ViewChoice.h"
#include "talvine/talvine.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace talvine::params {
namespace {

// Texts in code page 1252 ("é" is 0xE9, "°" is 0xB0).
constexpr const char* kTitre = "G\xE9om\xE9trie";
constexpr const char* kDescription = "Quilmar (Orvante)";

// What the host reports to an open modeless dialog (sub-mode 1).
struct Report {
    Point pt1;
    Point pt2;
    TDimImg dim;
    int32_t codeSel;
    TPtImg* imgHote;
};

template <class D> void open(TPtImg* img, TDimImg dim) {
    if (D* d = dialogs::dialog<D>()) d->Ouvrir(img, dim);
}
template <class D> void pickedPoint(const Report& r) {
    if (D* d = dialogs::dialog<D>()) d->NouveauPoint(r.pt2, r.imgHote);
}
void selection(const Report& r) {
    if (auto* d = dialogs::dialog<dialogs::TRogneImg>())
        d->NouvelleSelection(r.pt1, PtReserve, r.dim, r.codeSel, r.imgHote);
}

// One command: its number, its menu caption, what starts it (sub-mode 0; any
// sub-mode of a command that takes no report) and what takes a report
// (sub-mode 1; null for the instant commands and the modal dialogs).
struct Command {
    int32_t number;
    const char* caption;
    void (*start)(TPtImg* img, TDimImg dim);
    void (*report)(const Report& report);
};

constexpr std::array<Command, TALVINE_NB_COMMANDES> kCommands = {{
    {TALVINE_CMD_ROTATION_ANTI_HORAIRE, "Rotation de 90\xB0 anti horaire", TournerAntiHoraire,
     nullptr},
    {TALVINE_CMD_ROTATION_HORAIRE, "Rotation de 90\xB0 horaire", TournerHoraire, nullptr},
    {TALVINE_CMD_INCLINAISON, "Inclinaison horizon", open<dialogs::TInclineHorz>,
     pickedPoint<dialogs::TInclineHorz>},
    {TALVINE_CMD_MIROIR_HORZ, "Miroir Horizontal", MiroirHorz, nullptr},
    {TALVINE_CMD_MIROIR_VERT, "Miroir Vertical", MiroirVert, nullptr},
    {TALVINE_CMD_ROGNER, "Rogner format : libre, 2/3, 3/4", open<dialogs::TRogneImg>, selection},
    {TALVINE_CMD_REDIMENSIONNER, "Redimensionner", open<dialogs::TChangeDim>, nullptr},
    {TALVINE_CMD_DISTORSION, "Coussinet / Barillet", open<dialogs::TCorrDist>, nullptr},
    {TALVINE_CMD_PERSPECTIVE, "Perspective", open<dialogs::TCorrPerspect>,
     pickedPoint<dialogs::TCorrPerspect>},
}};
static_assert(
    [] {
        for (size_t i = 0; i < kCommands.size(); ++i)
            if (kCommands[i].number != static_cast<int32_t>(i) + 1) return false;
        return true;
    }(),
    "a command's number is its place in the table");

// TableCmd: built at start-up, released at unload.  Plain storage: the
// module's unload hook runs after static destructors.
const Command* gTableCmd = nullptr;
int32_t gCommandCount = 0;

// The version record travels in its own section of the module file.
[[gnu::used, gnu::section("talvine_version")]] constexpr unsigned char kVersionRecord[] = {
#include "VersionRecord.inc"
};

} // namespace

// Reads "FileVersion" from the record in a module file: every zero byte
// dropped, the 7 characters after the key, the first and third as digits.
// Whatever is wrong with the file (unreadable, damaged headers, memory
// refused), the version is 0 and 0.
Version versionOfModuleFile(const std::string& path) noexcept {
    try {
        if (path.empty()) return {};
        const uint32_t size = platform::fileVersionInfoSize(path);
        if (size == 0) return {};
        std::vector<uint8_t> record;
        if (!platform::fileVersionInfo(path, record)) return {};
        std::string text;
        for (uint8_t b : record)
            if (b != 0) text.push_back(static_cast<char>(b));
        constexpr std::string_view key = "FileVersion";
        const auto at = text.find(key);
        if (at == std::string::npos || text.size() < at + key.size() + 7) return {};
        const std::string value = text.substr(at + key.size(), 7);
        auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : -1; };
        if (digit(value[0]) < 0 || digit(value[2]) < 0) return {};
        return {digit(value[0]), digit(value[2])};
    } catch (...) {
        return {};
    }
}

namespace {

// A picture that starts a command must be described truthfully: no negative
// side, a pixel count within 32 bits, and at least that many elements.
bool validPicture(const TPtImg* img, TDimImg dim) {
    if (dim.Largeur < 0 || dim.Hauteur < 0) return false;
    const int64_t count = int64_t{dim.Largeur} * dim.Hauteur;
    return count <= INT32_MAX && arrayLength(img) >= count;
}

void dispatch(int32_t cmd, int32_t sousMode, const Report& report, TPtImg* img) {
    if (cmd < 1 || cmd > gCommandCount) return;
    const Command& c = gTableCmd[cmd - 1];
    if (sousMode == TALVINE_SOUSMODE_OUVRIR || !c.report) {
        if (validPicture(img, report.dim)) c.start(img, report.dim);
    } else if (sousMode == TALVINE_SOUSMODE_RAPPORT) {
        c.report(report);
    }
}

} // namespace

void buildCommandTable() {
    gTableCmd = kCommands.data();
    gCommandCount = static_cast<int32_t>(kCommands.size());
}

void releaseCommandTable() {
    gTableCmd = nullptr;
    gCommandCount = 0;
}

} // namespace talvine::params

using namespace talvine;

#if defined(_WIN32)
#define TALVINE_EXPORT __declspec(dllexport)
#else
#define TALVINE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

TALVINE_EXPORT void TALVINE_CALL AdrRetour(TProcRetour Retour, int32_t Contexte) {
    if (!libraryRunning()) return;
    host::registerCallback(Retour, Contexte);
}

TALVINE_EXPORT const char* TALVINE_CALL PrmDLL(int32_t* Majeur, int32_t* Mineur,
                                               const char** Titre) {
    try {
        if (!libraryRunning()) return nullptr;
        const params::Version v = params::versionOfModuleFile(
            platform::moduleFileName(reinterpret_cast<const void*>(&PrmDLL)));
        if (Majeur) *Majeur = v.major;
        if (Mineur) *Mineur = v.minor;
        if (Titre) *Titre = params::kTitre;
        return params::kDescription;
    } catch (...) {
        return nullptr;
    }
}

TALVINE_EXPORT const char* TALVINE_CALL AddMenu(int32_t* Index) {
    if (!Index) return nullptr;
    if (!libraryRunning()) return nullptr; // lists no command
    const int32_t count = params::gCommandCount;
    if (*Index == 0) {
        *Index = count;
        return params::kTitre;
    }
    if (*Index < 1 || *Index > count) return nullptr;
    return params::gTableCmd[*Index - 1].caption;
}

TALVINE_EXPORT void TALVINE_CALL XchgData(int32_t NumCmd, int32_t Pt1X, int32_t Pt1Y, int32_t Pt2X,
                                          int32_t Pt2Y, int32_t Largeur, int32_t Hauteur,
                                          int32_t SousMode, int32_t CodeSel, TPtsImg Img,
                                          TPtsImg ImgHote, int32_t, int32_t) {
    if (!libraryRunning()) return;
    // 80-bit arithmetic whatever the host did to the x87 unit (the engines'
    // threads start with the same settings).
    const ExtendedPrecision precision;
    try {
        plugin::chooseView(application()); // the Qt view when the host runs Qt, once
        // Our own references for the length of the call, released on every path.
        const PtsImg img = PtsImg::share(Img);
        const PtsImg imgHote = PtsImg::share(ImgHote);
        host::ImgModifiee.newCall();
        params::dispatch(
            NumCmd, SousMode,
            {{Pt1X, Pt1Y}, {Pt2X, Pt2Y}, {Largeur, Hauteur}, CodeSel, imgHote.handle()},
            img.handle());
    } catch (...) {
        // A failed command ends without its callback; nothing crosses the boundary.
    }
}

} // extern "C"
