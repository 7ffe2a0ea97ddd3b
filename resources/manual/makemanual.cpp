// Typesets the user manual (manual.txt) into a PDF with Cairo. The pictures
// of the effect are rendered by the plug-in's own colour rotation, so they
// show exactly what the filter does.
//
// The source is plain text: "# " a chapter, "## " a section, "- " a list
// item, four spaces a line of code, "@figure NAME" a picture, a blank line
// ends a paragraph.
#include <cairo-pdf.h>
#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline/callPixelFX.h"
#include "pipeline/pluginData.h"
#include "support/commonprocs.h"

namespace {

constexpr double kPageW = 595, kPageH = 842, kMargin = 60;
constexpr double kTextW = kPageW - 2 * kMargin;
const char* const kSans = "DejaVu Sans";
const char* const kMono = "DejaVu Sans Mono";

struct Writer {
    cairo_t* cr;
    std::string pngBase;  // proofs: each page as a PNG instead of a PDF
    double y = kMargin;
    int page = 1;

    void EndPage() {
        Footer();
        if (pngBase.empty()) {
            cairo_show_page(cr);
            return;
        }
        cairo_surface_write_to_png(cairo_get_target(cr), (pngBase + "-" + std::to_string(page) + ".png").c_str());
        cairo_save(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    void NewPage() {
        EndPage();
        ++page;
        y = kMargin;
    }
    void Footer() {
        cairo_save(cr);
        Font(kSans, 9, false);
        cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
        const std::string t = "Vexolumen manual — page " + std::to_string(page);
        cairo_text_extents_t e;
        cairo_text_extents(cr, t.c_str(), &e);
        cairo_move_to(cr, (kPageW - e.x_advance) / 2, kPageH - 30);
        cairo_show_text(cr, t.c_str());
        cairo_restore(cr);
    }
    void Room(double h) {
        if (y + h > kPageH - kMargin) NewPage();
    }
    void Font(const char* face, double size, bool bold) {
        cairo_select_font_face(cr, face, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, size);
    }
    // Words filled into lines of the text width, starting at x.
    void Paragraph(const std::string& text, double size, bool bold, double indent = 0, const char* bullet = nullptr) {
        Font(kSans, size, bold);
        cairo_set_source_rgb(cr, 0, 0, 0);
        const double lead = size * 1.45;
        std::vector<std::string> words;
        size_t i = 0;
        while (i < text.size()) {
            const size_t j = text.find(' ', i);
            words.push_back(text.substr(i, j == std::string::npos ? std::string::npos : j - i));
            if (j == std::string::npos) break;
            i = j + 1;
        }
        std::string line;
        bool first = true;
        auto flush = [&] {
            Room(lead);
            if (first && bullet) {
                cairo_move_to(cr, kMargin + indent - 12, y + size);
                cairo_show_text(cr, bullet);
            }
            cairo_move_to(cr, kMargin + indent, y + size);
            cairo_show_text(cr, line.c_str());
            y += lead;
            line.clear();
            first = false;
        };
        for (const std::string& w : words) {
            const std::string trial = line.empty() ? w : line + " " + w;
            cairo_text_extents_t e;
            cairo_text_extents(cr, trial.c_str(), &e);
            if (e.x_advance > kTextW - indent && !line.empty()) flush();
            line = line.empty() ? w : line + " " + w;
        }
        if (!line.empty()) flush();
    }
    void Code(const std::string& text) {
        Font(kMono, 9, false);
        Room(13);
        cairo_set_source_rgb(cr, 0.93, 0.93, 0.93);
        cairo_rectangle(cr, kMargin, y, kTextW, 13);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.1, 0.1, 0.3);
        cairo_move_to(cr, kMargin + 6, y + 10);
        cairo_show_text(cr, text.c_str());
        y += 13;
    }
};

// --- Pictures ------------------------------------------------------------------------------

GWorldPtr ColourChart(int w, int h) {
    const Rect r{0, 0, int16_t(h), int16_t(w)};
    GWorldPtr gw = AllocateRectGWorld(r);
    PixMapHandle pm = GetGWorldPixMap(gw);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm) + int64_t(y) * GetPixRowBytes(pm));
        for (int x = 0; x < w; ++x) {
            // Hue across, from white at the top through full colour to black.
            const double hue = 6.0 * x / w, v = double(y) / (h - 1);
            const double f = hue - std::floor(hue);
            double rgb[3];
            switch (int(hue) % 6) {
                case 0: rgb[0] = 1; rgb[1] = f; rgb[2] = 0; break;
                case 1: rgb[0] = 1 - f; rgb[1] = 1; rgb[2] = 0; break;
                case 2: rgb[0] = 0; rgb[1] = 1; rgb[2] = f; break;
                case 3: rgb[0] = 0; rgb[1] = 1 - f; rgb[2] = 1; break;
                case 4: rgb[0] = f; rgb[1] = 0; rgb[2] = 1; break;
                default: rgb[0] = 1; rgb[1] = 0; rgb[2] = 1 - f; break;
            }
            row[4 * x] = 255;
            for (int c = 0; c < 3; ++c) {
                const double light = v < 0.5 ? 1 - (1 - rgb[c]) * (v * 2) : rgb[c] * (2 - v * 2);
                row[4 * x + 1 + c] = uint8_t(light * 255);
            }
        }
    }
    return gw;
}

GWorldPtr Rotated(GWorldPtr source, int16_t s1, int16_t s2, int16_t s3, RGBColor offset, int16_t method,
                  RelRect rect) {
    PluginDataRec config{};
    ResetConfig(&config, true);
    config.sliders[0] = s1;
    config.sliders[1] = s2;
    config.sliders[2] = s3;
    config.colors[0] = offset;
    config.method = method;
    config.startRel = rect;
    GWorldPtr out = AllocateRectGWorld(GetPortRect(source));
    DoPixelEffect(source, out, &config, 0, 1, 0, 0, 0);
    return out;
}

void DrawGWorld(cairo_t* cr, GWorldPtr gw, double x, double y, double scale) {
    const Rect r = GetPortRect(gw);
    const int w = r.right, h = r.bottom;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_surface_flush(s);
    PixMapHandle pm = GetGWorldPixMap(gw);
    for (int yy = 0; yy < h; ++yy) {
        const auto* src = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm) + int64_t(yy) * GetPixRowBytes(pm));
        auto* dst = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + yy * cairo_image_surface_get_stride(s));
        for (int xx = 0; xx < w; ++xx)
            dst[xx] = (uint32_t(src[4 * xx + 1]) << 16) | (uint32_t(src[4 * xx + 2]) << 8) | src[4 * xx + 3];
    }
    cairo_surface_mark_dirty(s);
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

void Caption(Writer& w, double x, double y, const char* text) {
    w.Font(kSans, 9, false);
    cairo_set_source_rgb(w.cr, 0.25, 0.25, 0.25);
    cairo_move_to(w.cr, x, y);
    cairo_show_text(w.cr, text);
}

void Outline(cairo_t* cr, double x, double y, double wdt, double hgt) {
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, x + 0.5, y + 0.5, wdt - 1, hgt - 1);
    cairo_stroke(cr);
}

void FigureEffect(Writer& w) {
    const int cw = 220, ch = 140;
    w.Room(ch + 24);
    GWorldPtr chart = ColourChart(cw, ch);
    const RelRect rect{0.2, 0.8, 0.2, 0.8};
    GWorldPtr after = Rotated(chart, 50, 0, 0, RGBColor{32768, 32768, 32768}, 1, rect);
    DrawGWorld(w.cr, chart, kMargin, w.y, 1);
    DrawGWorld(w.cr, after, kMargin + cw + 15, w.y, 1);
    Outline(w.cr, kMargin + cw + 15 + cw * 0.2, w.y + ch * 0.2, cw * 0.6, ch * 0.6);
    Caption(w, kMargin, w.y + ch + 13, "Before");
    Caption(w, kMargin + cw + 15, w.y + ch + 13, "After: red axis 50%, offset mid grey, clamp");
    w.y += ch + 24;
    DisposeGWorld(chart);
    DisposeGWorld(after);
}

void FigureMethods(Writer& w) {
    const int cw = 150, ch = 100;
    w.Room(ch + 24);
    GWorldPtr chart = ColourChart(cw, ch);
    const char* names[3] = {"Clamp", "Wrap", "Reflect"};
    for (int m = 0; m < 3; ++m) {
        GWorldPtr out = Rotated(chart, 35, -25, 60, RGBColor{32768, 32768, 32768}, int16_t(m + 1), RelRect{0, 1, 0, 1});
        const double x = kMargin + m * (cw + 12);
        DrawGWorld(w.cr, out, x, w.y, 1);
        Caption(w, x, w.y + ch + 13, names[m]);
        DisposeGWorld(out);
    }
    w.y += ch + 24;
    DisposeGWorld(chart);
}

void Box(cairo_t* cr, double x, double y, double wd, double ht, const char* label, double grey = 0.85) {
    cairo_set_source_rgb(cr, grey, grey, grey);
    cairo_rectangle(cr, x, y, wd, ht);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
    cairo_set_line_width(cr, 0.8);
    cairo_stroke(cr);
    cairo_select_font_face(cr, kSans, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 8);
    cairo_text_extents_t e;
    cairo_text_extents(cr, label, &e);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_move_to(cr, x + (wd - e.x_advance) / 2, y + ht / 2 + 3);
    cairo_show_text(cr, label);
}

// The dialog's layout, drawn after its window definition (NTSC).
void FigureDialog(Writer& w) {
    const double s = 0.7, x0 = kMargin + (kTextW - 640 * s) / 2, y0 = w.y;
    w.Room(390 * s + 20);
    cairo_t* cr = w.cr;
    cairo_set_source_rgb(cr, 0.96, 0.96, 0.96);
    cairo_rectangle(cr, x0, y0, 640 * s, 390 * s);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.5, 0.5, 0.5);
    cairo_stroke(cr);
    GWorldPtr chart = ColourChart(360, 240);
    GWorldPtr after = Rotated(chart, 50, 0, 0, RGBColor{32768, 32768, 32768}, 1, RelRect{0.25, 0.75, 0.25, 0.75});
    DrawGWorld(cr, after, x0 + 16 * s, y0 + 16 * s, s);
    Outline(cr, x0 + (16 + 90) * s, y0 + (16 + 60) * s, 180 * s, 120 * s);
    DisposeGWorld(chart);
    DisposeGWorld(after);
    auto B = [&](double x, double y, double wd, double ht, const char* t, double g = 0.85) {
        Box(cr, x0 + x * s, y0 + y * s, wd * s, ht * s, t, g);
    };
    B(16, 266, 30, 26, "<");
    B(52, 269, 208, 20, "frame of the clip", 0.92);
    B(266, 266, 30, 26, ">");
    B(302, 266, 74, 26, "0/299", 0.96);
    const char* axes[3] = {"Red axis    100%", "Green axis    100%", "Blue axis    100%"};
    for (int i = 0; i < 3; ++i) B(392, 38 + i * 50, 232, 40, axes[i], 0.92);
    B(392, 186, 160, 26, "Offset colour", 0.96);
    B(560, 186, 64, 26, "", 0.05);
    B(392, 226, 232, 26, "Standard: NTSC / PAL / HD", 0.92);
    B(392, 260, 232, 26, "Out of range: Clamp / Wrap / Reflect", 0.92);
    B(392, 296, 232, 24, "[ ] Keep proportions", 0.96);
    B(16, 342, 84, 30, "Reset");
    B(106, 342, 110, 30, "Whole Frame");
    B(222, 342, 70, 30, "Help");
    B(298, 342, 80, 30, "About...");
    B(438, 342, 90, 30, "Cancel");
    B(534, 342, 90, 30, "OK");
    w.y += 390 * s + 20;
}

void FigureHandles(Writer& w) {
    const double x0 = kMargin + 60, y0 = w.y + 10, wd = 200, ht = 120;
    w.Room(ht + 40);
    cairo_t* cr = w.cr;
    cairo_set_source_rgb(cr, 0.9, 0.93, 1);
    cairo_rectangle(cr, x0 - 40, y0 - 10, wd + 80, ht + 20);
    cairo_fill(cr);
    Outline(cr, x0, y0, wd, ht);
    const double cx[4] = {x0, x0 + wd, x0, x0 + wd}, cy[4] = {y0, y0, y0 + ht, y0 + ht};
    for (int i = 0; i < 4; ++i) {
        for (int ring = 0; ring < 3; ++ring) {
            const double g = ring == 1 ? 1 : 0;
            cairo_set_source_rgb(cr, g, g, g);
            cairo_arc(cr, cx[i], cy[i], 6 - ring - 0.5, 0, 2 * M_PI);
            cairo_stroke(cr);
        }
    }
    Caption(w, x0 + wd + 50, y0 + 4, "Drag a handle: resize");
    Caption(w, x0 + wd + 50, y0 + 18, "+ Shift: keep the shape");
    Caption(w, x0 + wd + 50, y0 + 32, "+ Alt: about the centre");
    Caption(w, x0 + wd / 2 - 50, y0 + ht / 2 + 3, "Drag inside: move");
    w.y += ht + 40;
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(' ');
    return a == std::string::npos ? "" : s.substr(a);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: makemanual SOURCE.txt OUT.pdf (or OUT.png for page proofs)\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "makemanual: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::string out = argv[2], tmp = out + ".tmp";
    const bool proofs = out.size() > 4 && out.compare(out.size() - 4, 4, ".png") == 0;
    cairo_surface_t* surface = proofs ? cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(kPageW), int(kPageH))
                                      : cairo_pdf_surface_create(tmp.c_str(), kPageW, kPageH);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "makemanual: cannot write %s\n", out.c_str());
        return 1;
    }
    if (!proofs) cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_TITLE, "Vexolumen manual");
    Writer w{cairo_create(surface), proofs ? out.substr(0, out.size() - 4) : std::string()};
    if (proofs) {
        cairo_set_source_rgb(w.cr, 1, 1, 1);
        cairo_paint(w.cr);
    }

    std::string para, line;
    bool firstChapter = true;
    auto endPara = [&] {
        if (!para.empty()) {
            if (para.rfind("- ", 0) == 0)
                w.Paragraph(para.substr(2), 10.5, false, 16, "•");
            else
                w.Paragraph(para, 10.5, false);
            w.y += 5;
        }
        para.clear();
    };
    while (std::getline(in, line)) {
        if (line.rfind("    ", 0) == 0) {
            endPara();
            w.Code(line.substr(4));
            continue;
        }
        if (!line.empty() && line[0] != ' ' && w.y > kMargin && !para.empty() && para.rfind("- ", 0) == 0 &&
            line.rfind("- ", 0) == 0)
            endPara();
        if (line.empty()) {
            endPara();
            if (w.y > kMargin) w.y += 2;
            continue;
        }
        if (line.rfind("## ", 0) == 0) {
            endPara();
            w.Room(70);  // a heading keeps some of its text on its page
            w.y += 6;
            w.Paragraph(line.substr(3), 13, true);
            w.y += 2;
        } else if (line.rfind("# ", 0) == 0) {
            endPara();
            if (!firstChapter) w.NewPage();
            firstChapter = false;
            w.Paragraph(line.substr(2), 22, true);
            w.y += 6;
        } else if (line.rfind("@figure ", 0) == 0) {
            endPara();
            const std::string name = Trim(line.substr(8));
            if (name == "effect") FigureEffect(w);
            else if (name == "methods") FigureMethods(w);
            else if (name == "dialog") FigureDialog(w);
            else if (name == "handles") FigureHandles(w);
            else std::fprintf(stderr, "makemanual: unknown figure %s\n", name.c_str());
        } else {
            para = para.empty() ? line : para + " " + line;
        }
    }
    endPara();
    w.EndPage();
    cairo_destroy(w.cr);
    cairo_surface_finish(surface);
    const bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(surface);
    if (proofs) return ok ? 0 : 1;
    if (!ok || std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::remove(tmp.c_str());
        std::fprintf(stderr, "makemanual: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
