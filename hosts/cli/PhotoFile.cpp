#include "PhotoFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace talvine::cli {
namespace {

std::string shown(const std::string& path) {
    return path == kStdio ? "standard input" : path;
}

// A private file created beside `near` (or in the temporary directory),
// removed unless released.
class TempFile {
  public:
    explicit TempFile(const std::string& near) {
        const std::string dir =
            near == kStdio ? std::filesystem::temp_directory_path().string() + "/talvine" : near;
        path_ = dir + ".meta-XXXXXX";
        const int fd = mkstemp(path_.data());
        if (fd < 0) throw PictureError(shown(near) + ": " + std::strerror(errno));
        ::close(fd);
    }
    ~TempFile() {
        if (!path_.empty()) std::remove(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }
    void release() { path_.clear(); }

  private:
    std::string path_;
};

std::vector<uint8_t> readAll(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw PictureError(path + ": " + std::strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) throw PictureError(path + ": cannot be read back");
    return bytes;
}

void writeAll(std::FILE* f, const std::vector<uint8_t>& bytes, const std::string& name) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fflush(f) != 0)
        throw PictureError(name + ": " + std::strerror(errno));
}

} // namespace

PhotoOptions photoOptions(Args& args) {
    PhotoOptions o;
    o.strip = args.flag("--strip");
    o.autoOrient = !args.flag("--no-auto-orient");
    return o;
}

void readPhoto(HostSession& host, const std::string& path, const PhotoOptions& options) {
    if (!hosts::PhotoMetadata::supported()) return;
    const bool piped = path == kStdio;
    const std::string name = piped ? "standard input" : path;
    hosts::PhotoMetadata metadata;
    try {
        metadata = piped ? hosts::PhotoMetadata::fromBytes(host.standardInput())
                         : hosts::PhotoMetadata::read(path);
    } catch (const hosts::MetadataError& e) {
        std::cerr << "talvine: " << name << ": its metadata cannot be read (" << e.what()
                  << "); the output is written without it\n";
        return;
    }
    const int orientation = metadata.orientation();
    if (options.autoOrient && orientation != 1) {
        host.orient(orientation);
        std::cerr << "talvine: " << name << ": " << hosts::orientationText(orientation)
                  << " as its EXIF orientation says\n";
        host.keepMetadata(std::move(metadata), 1);
    } else {
        host.keepMetadata(std::move(metadata), orientation);
    }
}

void writePhoto(const HostSession& host, const std::string& path, const WriteOptions& write,
                const PhotoOptions& options) {
    const hosts::PhotoMetadata& metadata = host.metadata();
    if (options.strip || metadata.empty() || (path == kStdio && !write.format)) {
        writePicture(path, host.pixels(), write);
        return;
    }
    // Encoded first into a file of our own, then with the metadata into the
    // same file, which only then replaces the output.
    WriteOptions encode = write;
    encode.format = write.format ? *write.format : formatOf(path);
    TempFile temp(path);
    writePicture(temp.path(), host.pixels(), encode);
    std::vector<uint8_t> bytes = readAll(temp.path());
    bool kept = true;
    try {
        bytes = metadata.writeInto(bytes, host.size().Largeur, host.size().Hauteur,
                                   host.writtenOrientation());
    } catch (const hosts::MetadataError& e) {
        std::cerr << "talvine: " << (path == kStdio ? "standard output" : path)
                  << ": the input's metadata cannot be written in this format (" << e.what()
                  << "); written without it\n";
        kept = false;
    }
    if (path == kStdio) {
        writeAll(stdout, bytes, "standard output");
        return;
    }
    if (kept) {
        std::FILE* f = std::fopen(temp.path().c_str(), "wb");
        if (!f) throw PictureError(path + ": " + std::strerror(errno));
        try {
            writeAll(f, bytes, path);
        } catch (...) {
            std::fclose(f);
            throw;
        }
        const bool synced = ::fsync(fileno(f)) == 0;
        if (std::fclose(f) != 0 || !synced) throw PictureError(path + ": " + std::strerror(errno));
    }
    ::chmod(temp.path().c_str(), replacementMode(path));
    if (std::rename(temp.path().c_str(), path.c_str()) != 0)
        throw PictureError(path + ": " + std::strerror(errno));
    temp.release();
}

} // namespace talvine::cli
