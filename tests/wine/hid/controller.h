// One simulated controller behind its rig nodes: the device model on the simulated bus, one bus
// handle per node, and the thread that carries the nodes' report requests to the model in the
// order they came.
//
// Requests wait in one queue per controller, as a device takes one transfer at a time. An
// output report that the model takes on its interrupt pipe may be answered by an input report
// (protocol 3); the answer is asked of the model as the next task and waits for the class
// driver's standing read of the node. The write itself completes only once the class driver has
// taken the answer in and asked for its next report: Wine's class driver can leave a report in
// its queue while a ReadFile that starts at that very moment stays pending (the lost-wakeup race
// of docs/testing.md), which this order never meets, since the host reads only after its write. An answer that the model fails or stalls never comes, and
// the controller goes on. A report or control request that the model never finishes (a stalled
// report or get-input reply) holds the thread, and with it the controller, as a hung device
// does; the requests stay pending until the driver cancels them or the controller is unplugged.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"
#include "models/hid_device.h"
#include "tests/wine/hid/node_settings.h"
#include "tests/wine/hid/rig_model.h"

namespace rig {
class Controller;
}

// One node: one top-level collection of a controller.
struct RigNode {
    std::shared_ptr<rig::Controller> controller;
    std::size_t collection = 0;  // index into the model's collections
    models::HidCollection declaration{};
    std::vector<std::uint8_t> descriptor;
    RigDriverCalls calls{};
    platform::DeviceHandle busHandle = platform::kInvalidHandle;
    bool gone = false;
    std::deque<void*> reads;                       // the class driver's standing reads
    std::deque<std::vector<std::uint8_t>> inputs;  // input reports waiting for a read
    // A write whose answer the class driver has not asked past yet: completed with the next read.
    struct AnsweredWrite {
        void* context;
        std::size_t taken;
    };
    std::optional<AnsweredWrite> answeredWrite;
};

namespace rig {

class Controller : public std::enable_shared_from_this<Controller> {
public:
    // A node of the settings' collection (from 1) on the present controller of their vendor and
    // product, or on a new one with a fresh model, the settings' faults and options and record
    // folder. Null when the model has no such collection.
    static RigNode* OpenNode(const NodeSettings& settings, const RigDriverCalls& calls);

    int Submit(RigNode* node, const RigRequest& request);
    int Forget(RigNode* node, void* context);
    void Unplug(RigNode* node);
    // Closes the node; with the last node, the record is written and the controller dropped.
    void Close(RigNode* node);

    std::uint16_t VendorId() const { return model_->vendorId; }
    std::uint16_t ProductId() const { return model_->productId; }

    explicit Controller(std::shared_ptr<models::HidDevice> model, std::string recordFolder);

private:
    enum class Step { Write, SetOutput, GetInput, AnswerWrite };

    struct Task {
        RigNode* node = nullptr;
        Step step = Step::Write;
        void* context = nullptr;  // for an answer, the write it answers, which waits for it
        std::size_t taken = 0;    // for an answer, the bytes of the write taken
        std::vector<std::uint8_t> bytes;  // an output report as the driver gave it
        std::size_t room = 0;             // room for an input report
        std::uint8_t reportId = 0;
        platform::DeviceHandle busHandle = platform::kInvalidHandle;
        models::HidCollection declaration{};
        bool abandoned = false;
    };

    struct Outcome {
        int result = RIG_REFUSED;
        std::vector<std::uint8_t> answer;  // an input report, as the driver hands it up
        std::size_t taken = 0;             // bytes of an output report taken
        bool answered = false;             // an input report came
    };

    // The controller's part of OpenNode; caller holds the registry's lock.
    RigNode* AddNode(std::uint32_t collection, const RigDriverCalls& calls);
    void Run();
    Outcome Execute(const Task& task) const;
    void Finish(Task& task, const Outcome& outcome);  // caller holds mutex_
    void DeliverInputs(RigNode* node);                // caller holds mutex_
    void CompleteAnsweredWrite(RigNode* node, int result);  // caller holds mutex_
    void WriteRecord();

    const std::shared_ptr<models::HidDevice> model_;
    const std::string recordFolder_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> queue_;
    std::optional<Task> running_;
    std::vector<RigNode*> nodes_;
    bool stopping_ = false;
    bool dirty_ = true;

    std::mutex recordMutex_;
};

}  // namespace rig
