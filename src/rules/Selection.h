#pragma once
#include <cstdint>

// The marked range of the source: two markers, each a frame number within the frames the
// timeline offers (1..frame count once a source is open). Marker 1 may stand after marker 2;
// a job orders them. The window's marker sliders show the selection, and whatever moves a
// marker (the user, playback, a running job) moves it here first.
class Selection {
public:
    // The frames the markers may take; first frame 1 and last frame 100 before a source opens.
    int32_t firstFrame() const { return first_; }
    int32_t lastFrame() const { return last_; }
    // A new last frame. The first frame stays unless the new last frame is below it; then the
    // range is that one frame. A marker outside the range moves to its nearer end.
    void setLastFrame(int32_t last);

    // Marker k (1 or 2).
    int32_t marker(int k) const { return k == 1 ? marker1_ : marker2_; }
    // Moves marker k to `frame`, or to the nearer end of the range when `frame` is outside it.
    void setMarker(int k, int32_t frame);
    // The marker before the other; marker 2 when both stand on one frame.
    int earlierMarker() const { return marker1_ < marker2_ ? 1 : 2; }

private:
    int32_t clamped(int32_t frame) const;

    int32_t first_ = 1;
    int32_t last_ = 100;
    int32_t marker1_ = 1;
    int32_t marker2_ = 1;
};
