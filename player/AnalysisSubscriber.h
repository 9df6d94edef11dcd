// One player object's entry in the frame registry: the host's analysis function and the port
// whose frames it wants.
#ifndef KESTRAVA_PLAYER_ANALYSISSUBSCRIBER_H
#define KESTRAVA_PLAYER_ANALYSISSUBSCRIBER_H

#include <windows.h>

// The host's analysis function: frame data, size, width, height, userData, reversed.
typedef void(CALLBACK *AnalysisCallback)(char *data, LONG size, LONG width, LONG height,
                                         LONG userData, LONG reversed);

class AnalysisSubscriber {
  public:
    AnalysisSubscriber() = default;
    AnalysisSubscriber(const AnalysisSubscriber &) = delete;
    AnalysisSubscriber &operator=(const AnalysisSubscriber &) = delete;
    virtual ~AnalysisSubscriber() = default;

    // Replaces the three values as one: under the registry's lock, so an SDK thread in the
    // middle of a frame sees either the old set or the new one.
    void setCallback(AnalysisCallback newCallback, LONG newUserData, LONG newReversed) noexcept;

    // Runs on an SDK thread under the registry's lock.
    void deliverFrame(LONG framePort, char *data, LONG size, LONG width, LONG height, LONG, LONG,
                      LONG) const {
        if (framePort != port || port == -1 || !callback) {
            return; // not this object's frame, no port of its own, or nobody to tell
        }
        callback(data, size, width, height, userData, reversed);
    }

    // The three callback values are written under the registry's lock and read by SDK
    // threads under it. `port` is the owning player's SDK port (-1: none); it changes only
    // while this record is out of the registry.
    AnalysisCallback callback = nullptr;
    LONG userData = 0;
    LONG reversed = 0;
    LONG port = -1;
};

#endif
