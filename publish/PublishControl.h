// What a publication shares with the job that runs it: the job's state word and its
// progress value. Both belong to the caller (the worker points them at its job slot) and
// either may be null. Publishing reads a stop request from the state and marks it
// "uploading" while the upload plan runs; every other state value is the caller's and
// passes untouched. The progress marks say where a stopped or failed upload resumes.
#pragma once

#include <atomic>
#include <cstdint>

struct PublishControl {
    // The two job states publishing knows, numbered as in the worker's job slot.
    static constexpr int32_t kStopping = 3;
    static constexpr int32_t kUploading = 4;

    std::atomic<int32_t>* state = nullptr;
    std::atomic<int32_t>* progress = nullptr;

    // True when `job_state` (may be null) asks the publication to stop.
    static bool AsksToStop(const std::atomic<int32_t>* job_state) {
        return job_state != nullptr && job_state->load() == kStopping;
    }

    bool StopRequested() const { return AsksToStop(state); }
    void MarkUploading() const {
        if (state) state->store(kUploading);
    }
    // The progress value; 0 without one, which reads as "nothing sent yet".
    int32_t Mark() const { return progress ? progress->load() : 0; }
    void SetMark(int32_t value) const {
        if (progress) progress->store(value);
    }
    // Moves the progress value forward to `value`, never back.
    void RaiseMark(int32_t value) const {
        if (progress && progress->load() < value) progress->store(value);
    }
};
