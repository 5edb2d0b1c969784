#pragma once
// Every frame read from a video file arrives in a freshly allocated packet of
// a few hundred kilobytes. By default the C library hands such blocks back to
// the system when they are freed and takes them again for the next frame, so
// that every frame pays for zeroed pages and page faults: on a busy machine
// that costs more than decoding itself. Keeping freed memory in the process
// makes the next packet reuse it; the process still holds only a few frames.
// Each program that plays video calls this once at its start.
namespace corvane {

void keepFreedFrameMemory();

} // namespace corvane
