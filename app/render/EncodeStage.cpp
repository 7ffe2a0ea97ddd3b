// The two threads after the plug-in: conversion into the encoder's pixel
// format (on a thread of its own, so that the encoder's own threads are fed
// without waiting for it), then encoding and muxing.
#include "app/render/Pipeline.h"

void RenderPipeline::ConvertThread() {
    auto isAudio = [this](int index) {
        return reader_->Format()->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    };
    const bool failed = failure_.Run(o_.out, [&] {
        while (std::optional<Rendered> r = rendered_.Pop()) {
            Converted c;
            if (r->gw) {  // else only the sound after the last frame
                PixMapHandle pm = GetGWorldPixMap(r->gw);
                c.frame = writer_.ConvertVideo(reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm)),
                                               GetPixRowBytes(pm));
                if (!freeOutput_.Push(r->gw)) return;
            }
            c.pts = r->pts;
            c.duration = r->duration;
            // Sound passes only where the plug-in mixed it; subtitles always.
            for (PacketPtr& p : r->audio)
                if (r->audioMixed || !isAudio(p->stream_index)) c.audio.push_back(std::move(p));
            if (!converted_.Push(std::move(c))) return;
        }
    });
    if (failed) CloseAll();
    converted_.Close();
}

void RenderPipeline::EncodeThread() {
    const bool failed = failure_.Run(o_.out, [&] {
        while (std::optional<Converted> c = converted_.Pop()) {
            for (PacketPtr& p : c->audio) writer_.WriteCarried(std::move(p));
            if (c->frame) writer_.WriteFrame(std::move(c->frame), c->pts, c->duration);
        }
    });
    if (failed) CloseAll();
}
