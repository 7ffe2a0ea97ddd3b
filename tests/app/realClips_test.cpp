// The clips people really have, end to end: pipes, phone rotation, many
// streams, deep and alpha video, every output kind. Each row checks with
// ffprobe what the output promises and, where the codec is lossless, that its
// pixels are the effect's render of the same 8-bit frames.
#include <sys/stat.h>

#include "tests/app/AppTestSupport.h"

namespace {

const Settings kSaved{{25, -30, 40}, {0x8080, 0xC0C0, 0x4040}, 2, {0.1, 0.6, 0.2, 0.9}};
const char* kSavedArgs = "config set --angles 25,-30,40 --offset '#80C040' --method wrap --rect 0.1,0.6,0.2,0.9";

class RealClips : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        ASSERT_EQ(Vx(kSavedArgs).status, 0);
    }

    // The program's command line, for use inside a shell pipeline.
    std::string Cmd(const std::string& args) { return VX_APP_BIN " --config-dir " + config + " " + args; }

    // n frames of noise as RGB, and the clip made of them (lossless, with sound).
    std::string NoiseClip(const std::string& name, int w, int h, int n, const std::string& codec) {
        const std::string pixels = NoiseBytes(size_t(w) * h * 3 * n, 5);
        WriteFile(P("noise.raw"), pixels);
        Ffmpeg("-f rawvideo -pix_fmt rgb24 -s " + std::to_string(w) + "x" + std::to_string(h) + " -r 25 -i " +
                   P("noise.raw") + " -f lavfi -i sine=sample_rate=8000 -shortest -c:v " + codec + " -c:a pcm_s16le",
               P(name));
        std::filesystem::remove(P("noise.raw"));
        return pixels;
    }

    // What the effect makes of every frame.
    static std::string RotatedFrames(const std::string& pixels, int w, int h, int bpp = 3) {
        const size_t frame = size_t(w) * h * bpp;
        std::string out;
        for (size_t at = 0; at < pixels.size(); at += frame) out += Rotated(pixels.substr(at, frame), w, h, bpp, kSaved);
        return out;
    }

    std::string Frames(const std::string& file) {
        return Probe("-select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 " + file);
    }
    std::string VideoProps(const std::string& file, const std::string& fields) {
        return Probe("-select_streams v:0 -show_entries stream=" + fields + " -of csv=p=0 " + file);
    }
};

size_t Lines(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

TEST_F(RealClips, PipesAreReadOnceAndWrittenInPlace) {
    const int w = 32, h = 16, n = 12, frame = w * h * 3;
    const std::string pixels = NoiseClip("clip.mkv", w, h, n, "ffv1"), expected = RotatedFrames(pixels, w, h);
    const std::string clip = P("clip.mkv");

    // From standard input without fades: counted as it comes.
    RunResult r = Shell("{ cat " + clip + " | " + Cmd("render - " + P("stdin.mkv") + " --codec ffv1") + "; }");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(RawFrames(P("stdin.mkv")), expected);
    EXPECT_EQ(Probe("-select_streams a -show_entries stream=codec_name -of csv=p=0 " + P("stdin.mkv")), "pcm_s16le\n");

    // A fade-out needs the length first: the pipe is kept in a file beside
    // OUT, which is gone afterwards. Frames 10 and 11 are faded (85, 170).
    r = Shell("{ cat " + clip + " | " + Cmd("render pipe:0 " + P("faded.mkv") + " --codec ffv1 --fade-out 3") + "; }");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string faded = RawFrames(P("faded.mkv"));
    ASSERT_EQ(faded.size(), pixels.size());
    EXPECT_EQ(faded.substr(0, 10 * frame), expected.substr(0, 10 * frame));
    for (size_t k = 0; k < size_t(frame); k += 97) {
        const int over = uint8_t(pixels[11 * frame + k]), done = uint8_t(expected[11 * frame + k]);
        EXPECT_EQ(uint8_t(faded[11 * frame + k]), (over * 170 + done * 85 + 127) / 255) << k;
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"clip.mkv", "faded.mkv", "stdin.mkv"}));

    // A FIFO as IN; standard output and a FIFO as OUT, written in place.
    ASSERT_EQ(mkfifo(P("in.fifo").c_str(), 0600), 0);
    r = Shell("{ cat " + clip + " > " + P("in.fifo") + " & " + Cmd("render " + P("in.fifo") + " - --codec ffv1") +
              " > " + P("stdout.mkv") + "; wait; }");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(Probe("-show_entries format=format_name -of csv=p=0 " + P("stdout.mkv")), "matroska"));
    EXPECT_EQ(RawFrames(P("stdout.mkv")), expected);
    ASSERT_EQ(mkfifo(P("out.fifo").c_str(), 0600), 0);
    r = Shell("{ cat " + P("out.fifo") + " > " + P("fifo.mp4") + " & " +
              Cmd("render " + clip + " " + P("out.fifo") + " --format mp4") + "; wait; }");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(Probe("-show_entries format=format_name -of csv=p=0 " + P("fifo.mp4")), "mp4"));
    EXPECT_EQ(Frames(P("fifo.mp4")), "12\n");

    // Failures on pipes are one line too, and name the option given.
    r = Shell("{ cat " + clip + " | " + Cmd("render - " + P("late.mkv") + " --from 40") + "; }");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "--from: - has 12 frames"));
    r = Vx("render " + clip + " " + P("x.mkv") + " --format nosuch");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Contains(r.err, "--format: unknown container 'nosuch'"));
    EXPECT_EQ(Lines(r.err), 1u);
    EXPECT_FALSE(std::filesystem::exists(P("late.mkv")) || std::filesystem::exists(P("x.mkv")));
}

TEST_F(RealClips, ClipsShorterThanTheirHeaderRenderWhatTheyHold) {
    // The header (at the front) promises 10 hours at 1 frame a second; the
    // file is cut after frame 30.
    Ffmpeg("-f lavfi -i color=c=blue:s=16x16:r=1:d=36000 -c:v mpeg4 -g 1000 -movflags +faststart", P("long.mp4"));
    const std::string cut = Probe("-select_streams v -show_entries packet=pos -of csv=p=0 " + P("long.mp4"));
    size_t at = 0;
    for (int i = 0; i < 30; ++i) at = cut.find('\n', at) + 1;
    WriteFile(P("cut.mp4"), ReadFile(P("long.mp4")).substr(0, std::stoul(cut.substr(at))));
    for (const std::string& in : {P("cut.mp4"), std::string("-")}) {
        SCOPED_TRACE(in);
        const RunResult r = Shell("{ cat " + P("cut.mp4") + " | " + Cmd("render " + in + " " + P("out.mkv") + " -y") + "; }");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_TRUE(Contains(r.err, "holds 30 frames, not the 36000 its header claims"));
        EXPECT_EQ(Frames(P("out.mkv")), "30\n");
    }

    // A download cut off inside a frame keeps the whole frames before it.
    Ffmpeg("-f lavfi -i testsrc2=s=64x48:r=25:d=4 -c:v libx264 -movflags +faststart", P("h264.mp4"));
    const std::string pos = Probe("-select_streams v -show_entries packet=pos -of csv=p=0 " + P("h264.mp4"));
    at = 0;
    for (int i = 0; i < 30; ++i) at = pos.find('\n', at) + 1;
    WriteFile(P("torn.mp4"), ReadFile(P("h264.mp4")).substr(0, std::stoul(pos.substr(at)) + 20));
    const RunResult r = Vx("render " + P("torn.mp4") + " " + P("torn.mkv") + " -y");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "torn.mp4: cut off inside frame")) << r.err;
    const int kept = std::stoi(Frames(P("torn.mkv")));
    EXPECT_GE(kept, 24);  // frame threads may hold back a few behind the torn one
    EXPECT_LE(kept, 30);

    // A numbered sequence is read up to a missing file; the line names it and
    // the last file left out. Without a gap, nothing is said.
    Ffmpeg("-f lavfi -i testsrc2=s=16x16:r=25:d=0.4", P("f_%03d.png"));
    std::filesystem::remove(P("f_005.png"));
    RunResult seq = Vx("render " + P("f_%03d.png") + " " + P("seq.mkv") + " -y");
    ASSERT_EQ(seq.status, 0) << seq.err;
    EXPECT_EQ(seq.err, "vexolumen: " + P("f_%03d.png") +
                           ": f_005.png is missing; the files after it, up to f_010.png, were not read\n");
    EXPECT_EQ(Frames(P("seq.mkv")), "4\n");
    for (int i = 6; i <= 10; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f_%03d.png", i);
        std::filesystem::remove(P(name));
    }
    seq = Vx("render " + P("f_%03d.png") + " " + P("seq.mkv") + " -y");
    EXPECT_EQ(seq.err, "");
}

TEST_F(RealClips, PhoneClipsComeOutUpright) {
    const int w = 37, h = 23, n = 3;  // odd sizes: a wrong turn cannot line up
    NoiseClip("stored.mov", w, h, n, "png");
    for (const int degrees : {90, 180, 270}) {
        SCOPED_TRACE(degrees);
        const bool across = degrees != 180;
        Ffmpeg("-i " + P("stored.mov") + " -c copy -metadata:s:v rotate=" + std::to_string(degrees), P("phone.mov"));
        // ffmpeg's own upright frames are what the effect must see.
        const std::string upright = RawFrames(P("phone.mov"));
        ASSERT_EQ(upright.size(), size_t(w) * h * 3 * n);
        const RunResult r = Vx("render " + P("phone.mov") + " " + P("up.mkv") + " --codec ffv1 -y");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(VideoProps(P("up.mkv"), "width,height"), across ? "23,37\n" : "37,23\n");
        EXPECT_FALSE(Contains(Probe("-select_streams v -show_entries stream_side_data -of compact " + P("up.mkv")),
                              "Display Matrix"));
        EXPECT_EQ(RawFrames(P("up.mkv")), RotatedFrames(upright, across ? h : w, across ? w : h));
    }

    // Kept as stored, the tag goes along and players turn it.
    const RunResult r = Vx("render " + P("phone.mov") + " " + P("stored.mp4") + " --no-autorotate");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string tag = "-select_streams v -show_entries stream=width,height:stream_side_data=rotation -of compact ";
    EXPECT_TRUE(Contains(Probe(tag + P("stored.mp4")), "width=37|height=23|side_data|rotation="));
    EXPECT_EQ(Probe(tag + P("stored.mp4")), Probe(tag + P("phone.mov")));
}

TEST_F(RealClips, EveryStreamChaptersAndTagsTravel) {
    WriteFile(P("subs.srt"), "1\n00:00:00,100 --> 00:00:00,900\nHello\n\n2\n00:00:01,000 --> 00:00:01,800\nWorld\n");
    WriteFile(P("meta.txt"), ";FFMETADATA1\ntitle=My Film\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n"
                             "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n");
    WriteFile(P("font.ttf"), "not really a font");
    Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -f lavfi -i sine=f=440:duration=2 "
           "-f lavfi -i sine=f=880:duration=2 -i " + P("subs.srt") + " -i " + P("meta.txt") +
               " -map 0 -map 1 -map 2 -map 3 -map_metadata 4 -map_chapters 4 -c:v libx264 -c:a:0 aac -c:a:1 flac "
               "-c:s srt -metadata:s:a:0 language=eng -metadata:s:a:1 language=fra -metadata:s:a:1 title=Commentary "
               "-metadata:s:s:0 language=deu -disposition:a:1 comment -attach " + P("font.ttf") +
               " -metadata:s:t mimetype=application/x-truetype-font",
           P("many.mkv"));
    const std::string streams =
        "-show_entries stream=codec_type,codec_name:stream_tags=language,title,filename:stream_disposition=comment"
        ":format_tags=title:chapter=start_time,end_time:chapter_tags=title -of compact ";
    RunResult r = Vx("render " + P("many.mkv") + " " + P("out.mkv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Probe(streams + P("out.mkv")), Probe(streams + P("many.mkv")));

    // MP4 takes neither FLAC nor SubRip nor fonts: sound and text are
    // converted as ffmpeg converts them, the font is named as left out.
    r = Vx("render " + P("many.mkv") + " " + P("out.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "vexolumen: attachment stream 4 (ttf) left out: mp4 cannot hold it\n");
    const std::string mp4 = Probe(streams + P("out.mp4"));
    EXPECT_TRUE(Contains(mp4, "codec_name=aac|codec_type=audio|disposition:comment=0|tag:language=eng"));
    EXPECT_TRUE(Contains(mp4, "codec_name=aac|codec_type=audio|disposition:comment=1|tag:language=fra"));
    EXPECT_TRUE(Contains(mp4, "codec_name=mov_text|codec_type=subtitle|disposition:comment=0|tag:language=deu"));
    EXPECT_TRUE(Contains(mp4, "start_time=1.000000|end_time=2.000000|tag:title=Two"));
    EXPECT_TRUE(Contains(mp4, "format|tag:title=My Film"));
    EXPECT_TRUE(Contains(Shell("ffmpeg -nostdin -v error -i " + P("out.mp4") + " -map 0:s -f srt -").out, "World"));
    const std::string flac = Probe("-select_streams a:1 -show_entries stream=duration -of csv=p=0 " + P("out.mp4"));
    EXPECT_NEAR(std::stod(flac), 2.0, 0.05);
    // QuickTime names FLAC and Opus but refuses them: AAC, as ffmpeg picks.
    Ffmpeg("-i " + P("many.mkv") + " -map 0:v -map 0:a -c:v copy -c:a:0 libopus -c:a:1 flac", P("opus.mkv"));
    r = Vx("render " + P("opus.mkv") + " " + P("out.mov"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe("-select_streams a -show_entries stream=codec_name -of csv=p=0 " + P("out.mov")), "aac\naac\n");

    // A part keeps the chapters it overlaps, cut to it.
    r = Vx("render " + P("many.mkv") + " " + P("part.mkv") + " --from 30 --frames 10");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string part = Probe(streams + P("part.mkv"));
    EXPECT_FALSE(Contains(part, "tag:title=One"));
    EXPECT_TRUE(Contains(part, "tag:title=Two"));
}

TEST_F(RealClips, VideoPropertiesMatchWhatIsEncoded) {
    const std::string src = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 ";
    const std::string props = "pix_fmt,field_order,color_range,color_space,color_transfer,color_primaries";
    // Interlaced, top field first.
    Ffmpeg(src + "-c:v libx264 -flags +ildct+ilme -x264opts tff=1 -field_order tt -pix_fmt yuv420p", P("tff.mkv"));
    ASSERT_EQ(Vx("render " + P("tff.mkv") + " " + P("tff.mp4")).status, 0);
    EXPECT_EQ(VideoProps(P("tff.mp4"), "field_order"), "tt\n");

    // HDR10: 10 bits, PQ, BT.2020, mastering display and light levels.
    Ffmpeg(src + "-c:v libx265 -pix_fmt yuv420p10le -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc "
                 "-x265-params 'log-level=error:hdr10=1:master-display=G(13250,34500)B(7500,3000)R(34000,16000)"
                 "WP(15635,16450)L(10000000,1):max-cll=1000,400'",
           P("hdr.mkv"));
    RunResult r = Vx("render " + P("hdr.mkv") + " " + P("hdr.mkv.mkv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // through the effect at 16 bits: nothing to say
    EXPECT_TRUE(Contains(VideoProps(P("hdr.mkv.mkv"), props), "yuv420p10le,tv,bt2020nc,smpte2084,bt2020,progressive"));
    const std::string side = Probe("-select_streams v -show_entries stream_side_data -of compact " + P("hdr.mkv.mkv"));
    EXPECT_TRUE(Contains(side, "max_content=1000|max_average=400"));
    EXPECT_TRUE(Contains(side, "side_data_type=Mastering display metadata|red_x=17/25"));

    // 4:4:4 stays 4:4:4; full range stays full range.
    Ffmpeg(src + "-c:v libx264 -pix_fmt yuv444p -color_range pc", P("444.mkv"));
    ASSERT_EQ(Vx("render " + P("444.mkv") + " " + P("444.mp4")).status, 0);
    // (ffprobe names full-range 4:4:4 yuvj444p.)
    EXPECT_EQ(VideoProps(P("444.mp4"), "pix_fmt,color_range,color_space"), "yuvj444p,pc,smpte170m\n");
}

TEST_F(RealClips, AlphaIsReadAndKept) {
    const int w = 32, h = 16, n = 3, frame = w * h * 4;
    const std::string pixels = NoiseBytes(size_t(frame) * n, 9);
    WriteFile(P("rgba.raw"), pixels);
    const std::string raw = "-f rawvideo -pix_fmt rgba -s 32x16 -r 25 -i " + P("rgba.raw");
    Ffmpeg(raw + " -c:v libvpx-vp9 -pix_fmt yuva420p -b:v 0 -crf 10", P("alpha.webm"));
    Ffmpeg(raw + " -c:v prores_ks -profile:v 4444 -pix_fmt yuva444p10le", P("alpha.mov"));
    // The alpha the effect sees, through the decoder that reads it.
    const std::string vpxAlpha = Shell("ffmpeg -nostdin -v error -c:v libvpx-vp9 -i " + P("alpha.webm") +
                                       " -f rawvideo -pix_fmt rgba -").out;
    ASSERT_EQ(vpxAlpha.size(), pixels.size());

    // VP9 alpha into Matroska: FFV1 with alpha, exact.
    RunResult r = Vx("render " + P("alpha.webm") + " " + P("webm.mkv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(VideoProps(P("webm.mkv"), "codec_name,pix_fmt"), "ffv1,bgra\n");
    const std::string kept = RawFrames(P("webm.mkv"), "rgba");
    ASSERT_EQ(kept.size(), pixels.size());
    for (size_t i = 3; i < kept.size(); i += 4) ASSERT_EQ(kept[i], vpxAlpha[i]) << "alpha byte " << i / 4;
    // Into WebM it stays VP9 with alpha; ProRes 4444 into .mov stays 4444.
    ASSERT_EQ(Vx("render " + P("alpha.webm") + " " + P("out.webm")).status, 0);
    EXPECT_EQ(Probe("-show_entries stream_tags=alpha_mode -of csv=p=0 " + P("out.webm")), "1\n");
    r = Vx("render " + P("alpha.mov") + " " + P("out.mov"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(VideoProps(P("out.mov"), "codec_name,profile"), "prores,4444\n");
    const std::string prores = RawFrames(P("out.mov"), "rgba");
    ASSERT_EQ(prores.size(), pixels.size());
    int worst = 0;
    for (size_t i = 3; i < prores.size(); i += 4) worst = std::max(worst, std::abs(int(uint8_t(prores[i])) - int(uint8_t(pixels[i]))));
    EXPECT_LE(worst, 2) << "ProRes keeps alpha to within two steps";

    // MP4 has no common codec with alpha: said in one line.
    r = Vx("render " + P("alpha.webm") + " " + P("out.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "alpha left out: .mp4 has no common codec with alpha"));
    EXPECT_EQ(Lines(r.err), 1u);
}

TEST_F(RealClips, EveryOutputKindWorks) {
    const int w = 32, h = 16, n = 5, frame = w * h * 3;
    const std::string pixels = NoiseClip("clip.mov", w, h, n, "png"), expected = RotatedFrames(pixels, w, h);
    const std::string clip = P("clip.mov");
    auto render = [&](const std::string& out, const std::string& more = "") {
        const RunResult r = Vx("render " + clip + " " + P(out) + " " + more);
        EXPECT_EQ(r.status, 0) << out << ": " << r.err;
        EXPECT_EQ(r.err, "") << out;
    };
    auto clipFrom = [&](const std::string& in, const std::string& out) {
        const RunResult r = Vx("render " + in + " " + P(out));
        EXPECT_EQ(r.status, 0) << out << ": " << r.err;
        EXPECT_EQ(r.err, "") << out;
    };
    render("still.jpg");
    EXPECT_EQ(VideoProps(P("still.jpg"), "codec_name,pix_fmt,color_range"), "mjpeg,yuvj420p,pc\n");
    render("clip.ts");
    EXPECT_TRUE(Contains(VideoProps(P("clip.ts"), "codec_name"), "h264\n"));  // listed twice: program and stream
    EXPECT_TRUE(Contains(Frames(P("clip.ts")), "5\n"));
    // PCM has no MPEG-TS stream type: it becomes MPEG audio, as with ffmpeg.
    EXPECT_TRUE(Contains(Probe("-select_streams a -show_entries stream=codec_name -of csv=p=0 " + P("clip.ts")), "mp2"));
    render("clip.gif");
    EXPECT_EQ(Frames(P("clip.gif")), "5\n");
    // GIF pictures decode as RGBA: an opaque one has no alpha to lose.
    clipFrom(P("clip.gif"), "back.mp4");
    // AVI: every frame in its own slot of the frame rate.
    render("clip.avi");
    EXPECT_EQ(Probe("-select_streams v -show_entries frame=pts_time -of csv=p=0 " + P("clip.avi")),
              "0.000000\n0.040000\n0.080000\n0.120000\n0.160000\n");
    EXPECT_EQ(VideoProps(P("clip.avi"), "avg_frame_rate"), "25/1\n");
    // Containers with rules of their own: listed frame rates (MPEG), frames
    // counted by the rate (Ogg, YUV4MPEG), one stream only, sound of their kind.
    const struct {
        const char *out, *video, *audio;
    } kOthers[] = {{"clip.mpg", "mpeg1video,25/1\n", "mp2\n"}, {"clip.ogv", "theora,25/1\n", "vorbis\n"},
                   {"clip.y4m", "rawvideo,25/1\n", ""},        {"clip.apng", "apng,25/1\n", ""},
                   {"still.bmp", "bmp,25/1\n", ""}};
    for (const auto& o : kOthers) {
        render(o.out);
        EXPECT_EQ(VideoProps(P(o.out), "codec_name,r_frame_rate"), o.video) << o.out;
        EXPECT_EQ(Frames(P(o.out)), o.out[0] == 's' ? "1\n" : "5\n") << o.out;
        EXPECT_EQ(Probe("-select_streams a -show_entries stream=codec_name -of csv=p=0 " + P(o.out)), o.audio) << o.out;
    }
    Ffmpeg("-f lavfi -i testsrc2=size=32x16:rate=7:duration=1 -c:v png", P("seven.mov"));
    RunResult r = Vx("render " + P("seven.mov") + " " + P("seven.mpg"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "mpeg1video at 7 frames a second (ffmpeg -h encoder=mpeg1video lists")) << r.err;

    // One file per frame, numbered from 1, each the effect's render.
    render("f_%03d.png", "--codec png");
    for (int i = 0; i < n; ++i) {
        const std::string name = "f_00" + std::to_string(i + 1) + ".png";
        EXPECT_EQ(RawFrames(P(name)), expected.substr(size_t(i) * frame, frame)) << name;
    }
    render("j_%02d.jpg", "--frames 2");
    const std::vector<std::string> all = Listing();
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const std::string& f) { return f.rfind("j_0", 0) == 0; }), 2);
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](const std::string& f) { return f[0] == '.'; }), 0)
        << "no working folder left";

    // A sequence that fails leaves no frames; an existing first frame is not replaced.
    r = Vx("render " + clip + " " + P("g_%03d.png") + " --from 2 --frames 9");
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(Contains(r.err, "--frames: "));
    r = Vx("render " + clip + " " + P("f_%03d.png"));
    EXPECT_TRUE(Contains(r.err, "f_001.png: already exists"));
    EXPECT_EQ(Listing(), all);
    // A still takes one frame, and says how to get them all.
    r = Vx("render " + clip + " " + P("two.jpg") + " --frames 2");
    EXPECT_TRUE(Contains(r.err, "--frames: a .jpg output holds one frame (name it like out_%04d.jpg"));
}
