// The command-line host's side of the plug-in boundary.  It behaves as a host
// editor does: it starts the library, registers its callback, reads the
// identity through PrmDLL and AddMenu, and runs commands through XchgData on
// its current picture, keeping the result when a command ends applied and
// going back to the picture it had when a command ends cancelled.
#pragma once

#include "Cli.h"
#include "ImageIO.h"
#include "core/Host.h"
#include "core/ParamCoul.h"

#include "Cp1252.h"
#include "Metadata.h"

#include <optional>
#include <string>
#include <vector>

namespace talvine::cli {

struct Identity {
    std::string description; // UTF-8
    int major = 0;
    int minor = 0;
    std::string title;                 // UTF-8
    std::vector<std::string> captions; // UTF-8, command n is captions[n - 1]
};

struct CallbackRecord {
    Point pt1;
    Point pt2;
    int32_t nature;
    intptr_t param;
    bool modifiee;
    bool fin;
};

// What becomes of the picture when a command ends cancelled: a host keeps a
// copy to go back to, a one-shot tool that then writes nothing need not.
enum class OnCancel { Restore, Discard };

class HostSession {
  public:
    // Starts the library in this process (once) and registers the callback.
    explicit HostSession(OnCancel onCancel = OnCancel::Restore);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    Identity identity() const;

    void setPicture(const Picture& picture);
    // Takes an unshared array of size.Largeur x size.Hauteur pixels as the
    // picture, without a copy.
    void adoptPicture(PtsImg pixels, TDimImg size);
    // Reads a picture file straight into a new pixel array; the bytes of
    // standard input ("-") are kept in standardInput() for their metadata.
    void loadPicture(const std::string& path, const ReadOptions& options,
                     std::vector<std::string>* notes);
    const std::vector<uint8_t>& standardInput() const { return standardInput_; }
    // The JPEG quality the input was written at; 0 when it is no JPEG.
    int inputQuality() const { return inputQuality_; }
    void setInputQuality(int quality) { inputQuality_ = quality; }
    // The format the input was read in, when known.
    std::optional<Format> inputFormat() const { return inputFormat_; }
    void setInputFormat(std::optional<Format> format) { inputFormat_ = format; }
    // Turns the current picture as EXIF orientation `orientation` says it
    // shows (2 to 8; anything else leaves it).
    void orient(int orientation);
    Picture picture() const;
    // What the opened file carried besides its pixels, for the written one,
    // and the orientation its tag is then to say (1 once the pixels were
    // turned upright).
    void keepMetadata(hosts::PhotoMetadata metadata, int orientation);
    const hosts::PhotoMetadata& metadata() const { return metadata_; }
    int writtenOrientation() const { return writtenOrientation_; }
    // The current picture's pixels, valid until the next command.
    PixelsView pixels() const;
    TDimImg size() const { return size_; }

    // XchgData with sub-mode 0 on the current picture (a fresh command).
    void start(int command);
    // Reports (sub-mode 1) with the current buffer.
    void reportPoint(int command, Point point);
    void reportSelection(Point corner, TDimImg size, int codeSel);

    // The last command sent its final callback (or, for a modal command,
    // XchgData returned); and whether it was applied.
    bool ended() const { return ended_; }
    bool applied() const { return applied_; }
    const std::vector<CallbackRecord>& callbacks() const { return callbacks_; }

  private:
    static void TALVINE_CALL onCallback(int32_t contexte, int32_t pt1x, int32_t pt1y, int32_t pt2x,
                                        int32_t pt2y, int32_t nature, intptr_t param,
                                        int32_t modifiee, int32_t fin);
    void handle(const CallbackRecord& call);
    void restore();

    OnCancel onCancel_;
    PtsImg picture_;
    TDimImg size_;
    PtsImg before_; // the picture when the command started, for a cancel (Restore)
    TDimImg sizeBefore_;
    bool ended_ = false;
    bool applied_ = false;
    std::vector<CallbackRecord> callbacks_;
    hosts::PhotoMetadata metadata_;
    std::vector<uint8_t> standardInput_;
    int writtenOrientation_ = 1;
    int inputQuality_ = 0;
    std::optional<Format> inputFormat_;
};

using hosts::fromCp1252;

} // namespace talvine::cli
