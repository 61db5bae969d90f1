#include "HostSession.h"

#include "dialogs/Scripts.h"
#include "platform/PartageMem.h"
#include "plugin/Library.h"

#include <cstring>

namespace talvine::cli {
namespace {

constexpr int32_t kContext = 0x54564C31; // an arbitrary tag, checked on every callback
HostSession* gSession = nullptr;

} // namespace

HostSession::HostSession(OnCancel onCancel) : onCancel_(onCancel) {
    if (gSession) throw std::logic_error("one host session at a time");
    // As any host: publish the process's shared allocator before the plug-in
    // starts, so that pictures can cross the boundary both ways.
    if (!platform::startPartageMem())
        throw UserError("the shared memory allocator could not be set up");
    if (!startLibrary()) throw UserError("the plug-in library could not start");
    gSession = this;
    AdrRetour(&HostSession::onCallback, kContext);
}

HostSession::~HostSession() {
    AdrRetour(nullptr, 0);
    gSession = nullptr;
}

Identity HostSession::identity() const {
    Identity id;
    int32_t major = 0, minor = 0;
    const char* title = nullptr;
    id.description = fromCp1252(PrmDLL(&major, &minor, &title));
    id.major = major;
    id.minor = minor;
    id.title = fromCp1252(title);
    int32_t count = 0;
    AddMenu(&count);
    for (int32_t n = 1; n <= count; ++n) {
        int32_t index = n;
        id.captions.push_back(fromCp1252(AddMenu(&index)));
    }
    return id;
}

void HostSession::setPicture(const Picture& picture) {
    picture_ = PtsImg(picture.width * picture.height);
    if (!picture.rgb.empty()) std::memcpy(picture_.data(), picture.rgb.data(), picture.rgb.size());
    size_ = {picture.width, picture.height};
}

void HostSession::adoptPicture(PtsImg pixels, TDimImg size) {
    if (pixels.size() != int64_t{size.Largeur} * size.Hauteur)
        throw std::logic_error("the array does not hold the picture's pixels");
    picture_ = std::move(pixels);
    size_ = size;
}

void HostSession::loadPicture(const std::string& path, const ReadOptions& options,
                              std::vector<std::string>* notes) {
    PtsImg pixels;
    TDimImg size{0, 0};
    readPictureInto(
        path,
        [&](int32_t w, int32_t h) {
            // The decoder writes every pixel: nothing to zero first.
            pixels = PtsImg::uninitialised(w * h);
            size = {w, h};
            return reinterpret_cast<uint8_t*>(pixels.data());
        },
        options, notes, &standardInput_);
    adoptPicture(std::move(pixels), size);
}

void HostSession::orient(int orientation) {
    if (orientation < 2 || orientation > 8) return;
    Picture p = picture();
    picture_.clear();
    hosts::applyOrientation(p.rgb, p.width, p.height, orientation);
    setPicture(p);
}

void HostSession::keepMetadata(hosts::PhotoMetadata metadata, int orientation) {
    metadata_ = std::move(metadata);
    writtenOrientation_ = orientation;
}

PixelsView HostSession::pixels() const {
    return {size_.Largeur, size_.Hauteur, reinterpret_cast<const uint8_t*>(picture_.data())};
}

Picture HostSession::picture() const {
    Picture p;
    p.width = size_.Largeur;
    p.height = size_.Hauteur;
    const auto* bytes = reinterpret_cast<const uint8_t*>(picture_.data());
    p.rgb.assign(bytes, bytes + int64_t{p.width} * p.height * 3);
    return p;
}

void HostSession::start(int command) {
    if (onCancel_ == OnCancel::Restore) before_ = picture_.clone();
    sizeBefore_ = size_;
    ended_ = applied_ = false;
    callbacks_.clear();
    XchgData(command, 0, 0, 0, 0, size_.Largeur, size_.Hauteur, 0, 0, picture_.handle(), nullptr, 0,
             0);
    // A modal command is over when XchgData returns; a cancelled resize says
    // nothing at all, so the picture goes back as for any cancel.
    if (dialogs::scripts::opensModal(command) && !ended_) {
        restore();
        ended_ = true;
    }
}

void HostSession::reportPoint(int command, Point point) {
    XchgData(command, 0, 0, point.x, point.y, size_.Largeur, size_.Hauteur, 1, 0, nullptr,
             picture_.handle(), 0, 0);
}

void HostSession::reportSelection(Point corner, TDimImg size, int codeSel) {
    XchgData(TALVINE_CMD_ROGNER, corner.x, corner.y, 0, 0, size.Largeur, size.Hauteur, 1, codeSel,
             nullptr, picture_.handle(), 0, 0);
}

void HostSession::restore() {
    if (onCancel_ == OnCancel::Restore) picture_ = before_;
    before_.clear();
    size_ = sizeBefore_;
}

void TALVINE_CALL HostSession::onCallback(int32_t contexte, int32_t pt1x, int32_t pt1y,
                                          int32_t pt2x, int32_t pt2y, int32_t nature,
                                          intptr_t param, int32_t modifiee, int32_t fin) {
    if (contexte != kContext || !gSession) return;
    gSession->handle({{pt1x, pt1y}, {pt2x, pt2y}, nature, param, (modifiee & 0xFF) != 0, fin != 0});
}

void HostSession::handle(const CallbackRecord& call) {
    callbacks_.push_back(call);
    if (call.nature != rtImage || !call.fin) return;
    ended_ = true;
    applied_ = call.modifiee;
    if (!call.modifiee) {
        restore();
        return;
    }
    before_.clear();
    const int64_t count = int64_t{call.pt1.x} * call.pt1.y;
    if (call.pt1.x < 0 || call.pt1.y < 0 || count > INT32_MAX) return;
    if (call.param != 0) {
        // A new array (the resize): keep our own reference to it.
        PtsImg result = PtsImg::share(reinterpret_cast<TPtImg*>(call.param));
        if (result.size() < count) return;
        picture_ = std::move(result);
    } else {
        // The result is the first width x height pixels of the buffer.
        if (picture_.size() < count) return;
        if (count < picture_.size()) picture_.setLength(static_cast<int32_t>(count));
    }
    size_ = {call.pt1.x, call.pt1.y};
}

} // namespace talvine::cli
