#pragma once
// Registration of the engine's built-in classes with the class store.

namespace engine {

// Timeline, its nodes, the media detector and the render engine.
void RegisterTimelineClasses();
// Filter graph, sample grabber, capture graph builder with the AVI multiplexer and file
// writer, and the system device enumerator with its compressors.
void RegisterGraphClasses();
// Both of the above; the program calls it once at start.
void RegisterEngineClasses();

} // namespace engine
