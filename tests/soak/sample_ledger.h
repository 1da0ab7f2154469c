#pragma once
// Counts what a simulated camera sends, sample by sample, so a test can hold the device's own
// counters against it: a source wrapped around the camera's own that notes for each sample
// whether the camera took it while calibrating and how many fields it carries.
#include <atomic>
#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "sim/control/resource_tree.h"
#include "sim/video/sample_source.h"

namespace zrf::soak {

class SampleLedger final : public zrf::sim::SampleSource {
  public:
    SampleLedger(std::shared_ptr<zrf::sim::SampleSource> inner,
                 std::shared_ptr<::sim::ResourceTree> tree)
        : inner_(std::move(inner)), tree_(std::move(tree)) {}

    std::size_t Capacity(const AM_MEDIA_TYPE& type) const override {
        return inner_->Capacity(type);
    }

    // Runs on the streaming thread, right before the sample goes down the graph: what it
    // publishes here is what the device's handlers on the same thread see for this sample.
    std::size_t Fill(const AM_MEDIA_TYPE& type, std::uint64_t frame, BYTE* buffer,
                     std::size_t capacity) override {
        const std::int32_t fields = tree_->FieldsPerSample();  // changes only while stopped
        const std::int32_t nucs0 = Int(::sim::nodes::kNucCount);
        const std::int32_t left0 = Int(::sim::nodes::kCalibratingSamples);
        const std::size_t length = inner_->Fill(type, frame, buffer, capacity);
        // The count before the samples left: a correction between the two reads then shows
        // in both or in neither, and is never taken for one this sample met.
        const std::int32_t nucs1 = Int(::sim::nodes::kNucCount);
        const std::int32_t left1 = Int(::sim::nodes::kCalibratingSamples);
        const bool calibrating = TookCalibrating(nucs1 - nucs0, left0, left1);
        if (calibrating) calibrating_.fetch_add(1);
        calibratingById_.push_back(calibrating);
        fields_.store(fields);
        sampleCalibrating_.store(calibrating);
        sample_.fetch_add(1);
        return length;
    }

    std::uint64_t Samples() const { return sample_.load(); }
    std::uint64_t Calibrating() const { return calibrating_.load(); }
    std::uint64_t Ambiguous() const { return ambiguous_.load(); }
    // Of the sample now on its way (valid on the streaming thread).
    std::uint64_t CurrentSample() const { return sample_.load(); }
    std::int32_t CurrentFields() const { return fields_.load(); }
    bool CurrentCalibrating() const { return sampleCalibrating_.load(); }
    // Whether sample `id` (from 1) was a calibrating one; only while the camera sends nothing.
    bool WasCalibrating(std::uint64_t id) const { return calibratingById_.at(id - 1); }

  private:
    std::int32_t Int(const char* node) const { return std::get<std::int32_t>(tree_->Get(node)); }

    // Only this thread counts calibrating samples down and a correction sets the count anew,
    // so the counts read around the fill tell whether this sample was a calibrating one.
    bool TookCalibrating(std::int32_t corrections, std::int32_t left0, std::int32_t left1) {
        if (corrections == 0 || left0 > 0) return left0 > 0;
        if (corrections == 1) return left1 < tree_->Settings().samplesPerCorrection;
        ambiguous_.fetch_add(1);  // two corrections during one fill: cannot tell
        return left1 < tree_->Settings().samplesPerCorrection;
    }

    std::shared_ptr<zrf::sim::SampleSource> inner_;
    std::shared_ptr<::sim::ResourceTree> tree_;
    std::atomic<std::uint64_t> sample_{0};
    std::atomic<std::uint64_t> calibrating_{0};
    std::atomic<std::uint64_t> ambiguous_{0};
    std::atomic<std::int32_t> fields_{1};
    std::atomic<bool> sampleCalibrating_{false};
    std::vector<bool> calibratingById_;  // the streaming thread's while it runs
};

}  // namespace zrf::soak
