#include "app/commands/Lut.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <strings.h>

extern "C" {
#include <libavformat/avio.h>
}

#include "app/AppError.h"
#include "app/commands/Commands.h"
#include "app/commands/ConfigCommand.h"
#include "app/output/Placement.h"
#include "app/render/FrameServer.h"
#include "pipeline/callPixelFX.h"
#include "pipeline/pluginData.h"
#include "pipeline/prefsloader.h"

namespace {

enum class LutKind { kHald, kObs, kCube };

struct LutFormat {
    LutKind kind;
    int points;  // entries along each axis
    int width;   // of the picture; 0 for a cube
};

bool EndsWith(const std::string& text, const char* suffix) {
    const size_t n = std::char_traits<char>::length(suffix);
    return text.size() > n && strcasecmp(text.c_str() + text.size() - n, suffix) == 0;
}

LutFormat FormatOf(const LutOptions& o) {
    auto usage = [](const std::string& message) { return AppError(message, kUsageStatus); };
    if (EndsWith(o.out, ".cube")) {
        if (o.level) throw usage("--level: only for a Hald CLUT (.png); a .cube takes --size");
        if (o.obsLayout) throw usage("--layout: only for a .png");
        return {LutKind::kCube, o.size ? o.size : 65, 0};
    }
    if (!EndsWith(o.out, ".png"))
        throw usage(o.out + ": a LUT is written as .png (Hald CLUT) or .cube (3-D cube)");
    if (o.size) throw usage("--size: only for a .cube; a Hald CLUT (.png) takes --level");
    if (o.obsLayout) {
        if (o.level) throw usage("--level: OBS's layout has 64 points; no level to choose");
        return {LutKind::kObs, 64, 512};
    }
    const int level = o.level ? o.level : 16;
    return {LutKind::kHald, level * level, level * level * level};
}

// As a render sets it up: the saved settings, or the preset over the
// plug-in's defaults.
RecordPtr LoadRecord(const std::string& preset) {
    if (preset.empty()) return LoadSettings();
    RecordPtr rec = DefaultRecord();
    ConfigChanges c;
    ApplyPreset(preset, c);
    ApplyChanges(c, *rec);
    return rec;
}

// What a colour table cannot hold is said once, before the work.
void Notes(const PluginDataRec& rec, const LutFormat& f, const std::string& out) {
    const RelRect& r = rec.startRel;
    if (r.left > 0 || r.right < 1 || r.top > 0 || r.bottom < 1)
        std::fprintf(stderr,
                     "vexolumen: %s: the rectangle is no part of a colour table; it holds the colour transform "
                     "for the whole frame\n",
                     Printable(out).c_str());
    if (rec.method == 2 && f.kind == LutKind::kCube)
        std::fprintf(stderr,
                     "vexolumen: %s: wrap folds colours over, which an interpolating table follows poorly; a Hald "
                     "CLUT (.png) read without interpolation gives the render's exact bytes\n",
                     Printable(out).c_str());
}

// One line on stderr, shown once the work has taken over a second.
class TableProgress {
public:
    explicit TableProgress(bool enabled) : tty_(isatty(2)), enabled_(enabled), start_(Now()), last_(start_) {}
    void Update(const char* what, int64_t done, int64_t total) {
        const double now = Now();
        if (what != what_) {  // each step has its own pace
            what_ = what;
            stepStart_ = now;
        }
        if (!enabled_ || now - start_ < 1.0 || (done < total && now - last_ < (tty_ ? 0.2 : 1.0))) return;
        last_ = now;
        const double rate = now > stepStart_ ? double(done) / (now - stepStart_) : 0.0;
        std::fprintf(stderr, "%s%s %lld/%lld entries  %.0f%%  %.1f s left%s", tty_ ? "\r" : "", what,
                     static_cast<long long>(done), static_cast<long long>(total), 100.0 * double(done) / double(total),
                     rate > 0 ? double(total - done) / rate : 0.0, tty_ ? "  " : "\n");
        shown_ = true;
        std::fflush(stderr);
    }
    void End() {
        if (shown_ && tty_) std::fputc('\n', stderr);
    }
    double Seconds() const { return Now() - start_; }

private:
    static double Now() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }
    bool tty_, enabled_, shown_ = false;
    double start_, last_, stepStart_ = 0;
    const char* what_ = nullptr;
};

struct GWorldOwner {
    GWorldPtr gw;
    ~GWorldOwner() {
        if (gw) DisposeGWorld(gw);
    }
};

uint8_t* Pixels(GWorldPtr gw) { return reinterpret_cast<uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(gw))); }
int RowBytes(GWorldPtr gw) { return GetPixRowBytes(GetGWorldPixMap(gw)); }

// Red, green, blue bytes of entry r + g n + b n^2: the identity colours of
// the table rendered by the effect's driver, a band of rows at a time.
std::vector<uint8_t> RenderTable(PluginDataRec& rec, int n, TableProgress& progress) {
    const int64_t total = int64_t(n) * n * n;
    const int width = int(std::min<int64_t>(total, 4096));
    const int rows = int(std::min<int64_t>((total + width - 1) / width, 128));
    GWorldOwner src{NewArgbBuffer(width, rows)}, dst{NewArgbBuffer(width, rows)};
    std::vector<uint8_t> table;
    if (!src.gw || !dst.gw) throw AppError("out of memory");
    table.resize(size_t(total) * 3);
    std::vector<uint8_t> axis(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) axis[size_t(i)] = LutEntryByte(i, n);
    InitRelRect(rec.startRel);  // the colour transform of every pixel
    for (int64_t first = 0; first < total; first += int64_t(width) * rows) {
        if (Interrupted()) throw AppError("interrupted by " + InterruptName() + "; nothing written");
        const int64_t count = std::min<int64_t>(total - first, int64_t(width) * rows);
        for (int64_t k = 0; k < int64_t(width) * rows; ++k) {
            uint8_t* p = Pixels(src.gw) + (k / width) * RowBytes(src.gw) + (k % width) * 4;
            const int64_t e = k < count ? first + k : 0;
            p[0] = 255;
            p[1] = axis[size_t(e % n)];
            p[2] = axis[size_t(e / n % n)];
            p[3] = axis[size_t(e / n / n)];
        }
        DoPixelEffect(src.gw, dst.gw, &rec, 0, 1, 0.0, 0.0, 0.0);
        for (int64_t k = 0; k < count; ++k) {
            const uint8_t* p = Pixels(dst.gw) + (k / width) * RowBytes(dst.gw) + (k % width) * 4;
            std::copy(p + 1, p + 4, table.begin() + (first + k) * 3);
        }
        progress.Update("rendering", first + count, total);
    }
    return table;
}

// Image position of entry (r, g, b) of an n-point table in the Hald layout:
// red fastest, then green, then blue, row by row of an image width wide.
void HaldPosition(int r, int g, int b, int n, int width, int* x, int* y) {
    const int64_t index = (int64_t(b) * n + g) * n + r;
    *x = int(index % width);
    *y = int(index / width);
}

// OBS's: 64 points, 8 x 8 tiles of 64 x 64; blue picks the tile.
void ObsPosition(int r, int g, int b, int* x, int* y) {
    *x = b % 8 * 64 + r;
    *y = b / 8 * 64 + g;
}

void WritePicture(const std::vector<uint8_t>& table, const LutFormat& f, const LutOptions& o) {
    GWorldOwner picture{NewArgbBuffer(f.width, f.width)};
    if (!picture.gw) throw AppError("out of memory");
    const int n = f.points;
    for (int b = 0; b < n; ++b)
        for (int g = 0; g < n; ++g)
            for (int r = 0; r < n; ++r) {
                int x = 0, y = 0;
                if (f.kind == LutKind::kObs) ObsPosition(r, g, b, &x, &y);
                else HaldPosition(r, g, b, n, f.width, &x, &y);
                uint8_t* p = Pixels(picture.gw) + y * RowBytes(picture.gw) + x * 4;
                const uint8_t* e = &table[((size_t(b) * n + g) * n + r) * 3];
                p[0] = 255;
                std::copy(e, e + 3, p + 1);
            }
    WritePng(picture.gw, o.out, false, "", o.overwrite);
}

// A table is one file, never a stream or a sequence.
OutputRequest TableRequest(const std::string& out, bool overwrite) {
    OutputRequest request;
    request.out = out;
    request.overwrite = overwrite;
    request.streamAllowed = request.sequenceAllowed = false;
    request.work = "export";
    return request;
}

struct AvioCloser {
    void operator()(AVIOContext* io) const { avio_closep(&io); }
};

// The one place that knows how an output is placed: a temporary beside OUT,
// moved to OUT in one rename once everything is written.
void PlaceOutput(const std::string& out, bool overwrite, const std::function<void(AVIOContext*)>& write) {
    Placement file(TableRequest(out, overwrite));
    AVIOContext* raw = nullptr;
    const int err = avio_open(&raw, file.Url().c_str(), AVIO_FLAG_WRITE);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    std::unique_ptr<AVIOContext, AvioCloser> io(raw);
    write(io.get());
    avio_flush(io.get());
    if (io->error < 0) throw AppError(out + ": cannot write: " + AVErrorText(io->error));
    AVIOContext* closing = io.release();
    if (const int closed = avio_closep(&closing); closed < 0)
        throw AppError(out + ": cannot write: " + AVErrorText(closed));
    file.Place();
}

void WriteCube(const std::vector<uint8_t>& table, const LutFormat& f, const LutOptions& o, const PluginDataRec& rec,
               TableProgress& progress) {
    PlaceOutput(o.out, o.overwrite, [&](AVIOContext* io) {
        char line[96];
        std::snprintf(line, sizeof line, "# vexolumen lut: angles %d,%d,%d offset #%02X%02X%02X method %s\n",
                      rec.sliders[0], rec.sliders[1], rec.sliders[2], rec.colors[0].red >> 8,
                      rec.colors[0].green >> 8, rec.colors[0].blue >> 8,
                      rec.method == 1 ? "clamp" : rec.method == 2 ? "wrap" : "reflect");
        std::string text = line;
        text += "LUT_3D_SIZE " + std::to_string(f.points) + "\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1\n";
        for (size_t e = 0; e < table.size(); e += 3) {
            const int length = std::snprintf(line, sizeof line, "%.6f %.6f %.6f\n", CubeValue(table[e]),
                                             CubeValue(table[e + 1]), CubeValue(table[e + 2]));
            text.append(line, size_t(length));
            if (text.size() > (1u << 20)) {
                if (Interrupted()) throw AppError("interrupted by " + InterruptName() + "; nothing written");
                avio_write(io, reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
                text.clear();
                progress.Update("writing", int64_t(e / 3), int64_t(table.size() / 3));
            }
        }
        avio_write(io, reinterpret_cast<const unsigned char*>(text.data()), int(text.size()));
        progress.Update("writing", int64_t(table.size() / 3), int64_t(table.size() / 3));
    });
}

}  // namespace

uint8_t LutEntryByte(int i, int n) { return uint8_t((2 * 255 * i + (n - 1)) / (2 * (n - 1))); }

// A quarter code above the byte: truncation and rounding both give the byte
// back, with room for single-precision and half-float readers.
double CubeValue(uint8_t byte) { return std::min(1.0, (byte + 0.25) / 255.0); }

void RunLut(const LutOptions& o) {
    const LutFormat f = FormatOf(o);
    RecordPtr rec = LoadRecord(o.preset);
    CheckOutput(TableRequest(o.out, o.overwrite));
    Notes(*rec, f, o.out);
    TableProgress progress(o.progress);
    const std::vector<uint8_t> table = RenderTable(*rec, f.points, progress);
    if (f.kind == LutKind::kCube) WriteCube(table, f, o, *rec, progress);
    else WritePicture(table, f, o);
    progress.End();
    if (o.progress)
        std::fprintf(stderr, "vexolumen: wrote %s: %d points a side in %.2f s\n", Printable(o.out).c_str(), f.points,
                     progress.Seconds());
}
