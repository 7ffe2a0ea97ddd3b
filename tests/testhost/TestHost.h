// A host for tests: loads the plug-in bundle, fills the parameter block and
// answers every callback over in-memory frames, recording what it was asked.
//
// Each TestHost loads its own private copy of the plug-in library, so the
// plug-in's globals (the global record, the most recent frame) start fresh.
// Frames: clip[i] is absolute frame i; GetFrame scales it (nearest neighbour)
// into a new buffer of the asked size, which ReleaseFrame frees again.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/HYPlugin.h"

class TestHost {
public:
    explicit TestHost(int width = 32, int height = 24, int frames = 10);
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // Sets the selector and calls the plug-in's main.
    int32_t Send(HYPluginSelector selector, int16_t which = 0);
    int32_t Call(HYPluginParams* block, int16_t which = 0);  // a block of the caller's

    // A frame whose pixels are a deterministic function of (frame, x, y, seed);
    // 64-bit buffers get 16-bit channels.
    static void FillPattern(GWorldPtr gw, int frame, uint32_t seed);

    // Turns this host into one that offers deep frames: interface version 5
    // and the offer in the block, the clip and the output made 64-bit. Frames
    // are handed out at the clip's depth, and Blit composites 64-bit maps by
    // the 16-bit rule of HYPlugin.h.
    void OfferDeepFrames();

    HYPluginEntry entry = nullptr;
    HYPluginParams params{};
    HYProcs procs{};
    std::vector<GWorldPtr> clip;  // owned
    GWorldPtr output = nullptr;   // owned; params.frame

    // Knobs for the callbacks.
    HYPluginResult getFrameResult = kPluginOK;
    bool getFrameGivesNoBuffer = false;
    HYPluginResult releaseFrameResult = kPluginOK;
    HYPluginResult blitResult = kPluginOK;
    HYPluginResult mixAudioResult = kPluginOK;
    HYPluginResult filterInfoResult = kPluginOK;
    bool filterInfoNil = false;
    HYPluginFilterInfo filterInfo{{0.5f, 0.5f, 0.5f}, 0, 0};

    // What was asked.
    struct FrameRequest {
        int32_t frame, width, height;
        HYRefDVQuality quality;
    };
    std::vector<FrameRequest> frameRequests;
    std::vector<int16_t> blitOpacities;
    int releaseFrameCalls = 0, mixAudioCalls = 0, movieInfoCalls = 0, clipInfoCalls = 0;
    int filterInfoCalls = 0, filterInfoReleases = 0, outstandingFrames = 0;

    static int64_t liveBlocks;  // NewPtrClear blocks not yet disposed, all hosts

    std::string bundleCopy;  // the private copy of the bundle folder
private:
    void* handle_ = nullptr;
};
