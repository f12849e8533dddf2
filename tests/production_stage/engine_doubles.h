#pragma once
// Engine objects that refuse one call each. Each wrapper is registered for a test under
// the real class's identifier (platform::RegisterBuiltInClass) and passes every call on
// to a real engine object, except the call the test names, which fails with E_FAIL.
//
// Calls are named "<object>.<method>", e.g. "timeline.AddGroup", "source.SetMediaName",
// "graph.AddFilter.Compressor", "engine.GetGroupOutputPin.1"; a refusal is for the n-th
// such call (1 = the first) or, with 0, for every one.

#include "engine/dshow.h"
#include "engine/timeline.h"
#include "platform/class_store.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace stagetest {

class Refusals
{
public:
    void Refuse(const QString &call, int occurrence = 1);
    // Counts the call; true when this occurrence is to be refused.
    bool ShouldRefuse(const QString &call);
    int Count(const QString &call) const;

private:
    mutable std::mutex m_mutex;
    std::map<QString, int> m_targets;
    std::map<QString, int> m_counts;
};

// What the wrapped filter graph reports instead of the truth, and what it saw.
struct GraphScript
{
    std::optional<engine::ReferenceTime> duration; // GetDuration
    std::vector<engine::ReferenceTime> positions;  // GetCurrentPosition, in turn
    std::function<void()> beforeWait;              // at every WaitForCompletion
    int timeoutsFirst = 0; // so many waits time out at once, whatever the graph does
    int waits = 0;
    std::vector<engine::ReferenceTime> reportedPositions; // what GetCurrentPosition gave
    QStringList addedFilters;
};

// Friendly names the wrapped device enumerator leaves out of a category, and the names of
// the devices whose filters were bound.
struct DeviceScript
{
    bool noVideoCompressors = false;
    QStringList hiddenNames;
    QStringList boundNames;
};

// Registers the wrappers for the timeline (and its nodes), media detector, render
// engine, filter graph, capture graph builder (and its multiplexer), sample grabber and
// device enumerator. engine::RegisterEngineClasses() puts the real ones back.
void RegisterRefusingClasses(std::shared_ptr<Refusals> refusals,
                             std::shared_ptr<GraphScript> graph,
                             std::shared_ptr<DeviceScript> devices);

// Makes creations of a class fail from the n-th one on (1 = every creation); the ones
// before are made by `real`.
void FailCreationFrom(const engine::Guid &clsid, int nth, platform::ClassFactory real);

} // namespace stagetest
