#include "tests/wine/hid/controller.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <thread>

#include "sim/hid_bus.h"
#include "sim/trace.h"
#include "tests/wine/hid/controller_record.h"
#include "models/report_descriptor.h"
#include "tests/rig/model_pipes.h"

namespace rig {
namespace {

// The record is written once the controller has been idle this long (not between the reports
// of a download, which would slow it down), and when its last node goes.
constexpr auto kRecordAfterIdle = std::chrono::milliseconds(200);

std::mutex registryMutex;
std::map<std::uint32_t, std::shared_ptr<Controller>> present;  // by vendor << 16 | product

std::uint32_t Key(std::uint16_t vendorId, std::uint16_t productId)
{
    return static_cast<std::uint32_t>(vendorId) << 16 | productId;
}

}  // namespace

Controller::Controller(std::shared_ptr<models::HidDevice> model, std::string recordFolder)
    : model_(std::move(model)), recordFolder_(std::move(recordFolder))
{
}

RigNode* Controller::OpenNode(const NodeSettings& settings, const RigDriverCalls& calls)
{
    std::lock_guard<std::mutex> lock(registryMutex);
    auto found = present.find(Key(settings.vendorId, settings.productId));
    if (found != present.end()) return found->second->AddNode(settings.collection, calls);

    std::shared_ptr<models::HidDevice> model = MakeControllerModel(settings);
    if (settings.collection == 0 || settings.collection > model->collections.size()) return nullptr;
    if (!settings.recordFolder.empty()) {
        sim::TraceOpen(settings.recordFolder + "\\trace.txt");
        sim::TraceKeepLines(false);
    }
    sim::Plug(model);

    auto controller = std::make_shared<Controller>(model, settings.recordFolder);
    controller->WriteRecord();
    std::thread([controller] { controller->Run(); }).detach();
    present[Key(settings.vendorId, settings.productId)] = controller;
    return controller->AddNode(settings.collection, calls);
}

RigNode* Controller::AddNode(std::uint32_t collection, const RigDriverCalls& calls)
{
    if (collection == 0 || collection > model_->collections.size()) return nullptr;
    auto* node = new RigNode;
    node->controller = shared_from_this();
    node->collection = collection - 1;
    node->declaration = model_->collections[node->collection];
    node->descriptor = models::ReportDescriptor(node->declaration);
    node->calls = calls;
    node->busHandle = sim::BusOpen(model_->PathOf(node->collection), true).handle;
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.push_back(node);
    return node;
}

int Controller::Submit(RigNode* node, const RigRequest& request)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!node->calls.arm(request.context)) return RIG_CANCELLED;
    if (node->gone) {
        node->calls.complete(request.context, RIG_GONE, nullptr, 0);
        return RIG_PENDING;
    }
    if (request.kind == RIG_READ_REPORT) {
        node->reads.push_back(request.context);
        DeliverInputs(node);
        // A read that finds nothing to take: the class driver has taken in every answer so far.
        if (node->inputs.empty() && !node->reads.empty()) CompleteAnsweredWrite(node, RIG_DONE);
        return RIG_PENDING;
    }
    Task task;
    task.node = node;
    task.context = request.context;
    task.reportId = request.reportId;
    task.busHandle = node->busHandle;
    task.declaration = node->declaration;
    switch (request.kind) {
    case RIG_WRITE_REPORT: task.step = Step::Write; break;
    case RIG_SET_OUTPUT_REPORT: task.step = Step::SetOutput; break;
    case RIG_GET_INPUT_REPORT: task.step = Step::GetInput; break;
    default:
        node->calls.complete(request.context, RIG_REFUSED, nullptr, 0);
        return RIG_PENDING;
    }
    if (task.step == Step::GetInput) {
        task.room = request.length;
    } else if (request.report != nullptr) {
        task.bytes.assign(request.report, request.report + request.length);
    }
    queue_.push_back(std::move(task));
    wake_.notify_all();
    return RIG_PENDING;
}

int Controller::Forget(RigNode* node, void* context)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (node->answeredWrite && node->answeredWrite->context == context) {
        node->answeredWrite.reset();
        return 1;
    }
    for (auto read = node->reads.begin(); read != node->reads.end(); ++read) {
        if (*read == context) {
            node->reads.erase(read);
            return 1;
        }
    }
    for (auto task = queue_.begin(); task != queue_.end(); ++task) {
        if (task->node == node && task->context == context) {
            queue_.erase(task);
            return 1;
        }
    }
    if (running_ && running_->node == node && running_->context == context && !running_->abandoned) {
        running_->abandoned = true;
        return 1;
    }
    return 0;
}

void Controller::Unplug(RigNode* node)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (node->gone) return;
    node->gone = true;
    CompleteAnsweredWrite(node, RIG_GONE);
    for (void* read : node->reads) node->calls.complete(read, RIG_GONE, nullptr, 0);
    node->reads.clear();
    node->inputs.clear();
    for (auto task = queue_.begin(); task != queue_.end();) {
        if (task->node != node) {
            ++task;
            continue;
        }
        if (task->context) node->calls.complete(task->context, RIG_GONE, nullptr, 0);
        task = queue_.erase(task);
    }
    if (running_ && running_->node == node && !running_->abandoned) {
        if (running_->context) node->calls.complete(running_->context, RIG_GONE, nullptr, 0);
        running_->abandoned = true;
    }
}

void Controller::Close(RigNode* node)
{
    Unplug(node);
    bool last = false;
    {
        std::lock_guard<std::mutex> registryLock(registryMutex);
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase(nodes_, node);
        sim::BusClose(node->busHandle);
        last = nodes_.empty();
        if (last) {
            stopping_ = true;
            wake_.notify_all();
            auto found = present.find(Key(model_->vendorId, model_->productId));
            if (found != present.end() && found->second.get() == this) present.erase(found);
        }
    }
    if (last) WriteRecord();
    delete node;
}

void Controller::Run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (queue_.empty()) {
            const bool woken = wake_.wait_for(lock, kRecordAfterIdle, [this] { return stopping_ || !queue_.empty(); });
            if (!woken && dirty_) {
                dirty_ = false;
                lock.unlock();
                WriteRecord();
                lock.lock();
            }
            continue;
        }
        running_ = std::move(queue_.front());
        queue_.pop_front();
        const Task task = *running_;
        lock.unlock();
        const Outcome outcome = Execute(task);
        lock.lock();
        Finish(*running_, outcome);
        running_.reset();
        dirty_ = true;
    }
}

Controller::Outcome Controller::Execute(const Task& task) const
{
    const bool numbered = models::NumbersReports(task.declaration);
    Outcome outcome;
    if (task.step == Step::Write || task.step == Step::SetOutput) {
        // Without report ids the driver gets the report without its leading 0 byte; the model
        // takes the report as the host wrote it.
        std::vector<std::uint8_t> report;
        if (!numbered) report.push_back(0);
        report.insert(report.end(), task.bytes.begin(), task.bytes.end());
        const bool taken =
            task.step == Step::Write
                ? sim::BusWrite(task.busHandle, report.data(), report.size(), kHungDeviceMs).done()
                : sim::BusSetOutputReport(task.busHandle, report.data(), report.size(), kHungDeviceMs).done();
        outcome.result = taken ? RIG_DONE : RIG_REFUSED;
        outcome.taken = task.bytes.size();
        return outcome;
    }

    // An input report: asked for by id through the control pipe, or the answer on the interrupt
    // pipe. The model fills a buffer that starts with the report id (0 without report ids); the
    // driver hands the report up without that 0.
    std::vector<std::uint8_t> buffer;
    bool answered = false;
    if (task.step == Step::GetInput) {
        buffer.assign(task.room + (numbered ? 0 : 1), 0);
        buffer[0] = numbered ? task.reportId : 0;
        answered = sim::BusGetInputReport(task.busHandle, buffer.data(), buffer.size(), kHungDeviceMs).done();
    } else {
        buffer.assign(task.declaration.inputLength, 0);
        if (!buffer.empty()) buffer[0] = task.declaration.inputReportId;
        answered = sim::BusRead(task.busHandle, buffer.data(), buffer.size(), kAnswerNowMs).done();
    }
    outcome.result = answered ? RIG_DONE : RIG_REFUSED;
    outcome.answered = answered;
    if (answered) outcome.answer.assign(buffer.begin() + (numbered ? 0 : 1), buffer.end());
    return outcome;
}

void Controller::Finish(Task& task, const Outcome& outcome)
{
    if (task.abandoned) return;
    RigNode* node = task.node;
    switch (task.step) {
    case Step::Write:
    case Step::SetOutput:
        if (task.step == Step::Write && outcome.result == RIG_DONE && AnswersEachWrite(*model_) &&
            task.declaration.inputLength > 0) {
            Task answer;
            answer.node = node;
            answer.step = Step::AnswerWrite;
            answer.context = task.context;
            answer.taken = outcome.taken;
            answer.busHandle = task.busHandle;
            answer.declaration = task.declaration;
            queue_.push_front(std::move(answer));
        } else {
            node->calls.complete(task.context, outcome.result, nullptr, outcome.taken);
        }
        break;
    case Step::GetInput:
        node->calls.complete(task.context, outcome.result, outcome.answer.data(), outcome.answer.size());
        break;
    case Step::AnswerWrite:
        // An answer that fails is an interrupt transfer that brought nothing: the class driver's
        // read stays pending, and the write completes now.
        if (!outcome.answered) {
            node->calls.complete(task.context, RIG_DONE, nullptr, task.taken);
            break;
        }
        node->answeredWrite = RigNode::AnsweredWrite{task.context, task.taken};
        node->inputs.push_back(outcome.answer);
        DeliverInputs(node);
        break;
    }
}

void Controller::DeliverInputs(RigNode* node)
{
    while (!node->inputs.empty() && !node->reads.empty()) {
        void* read = node->reads.front();
        node->reads.pop_front();
        const std::vector<std::uint8_t>& input = node->inputs.front();
        // A read that was being cancelled meanwhile took nothing: the report waits for the next.
        if (!node->calls.complete(read, RIG_DONE, input.data(), input.size())) continue;
        node->inputs.pop_front();
    }
}

void Controller::CompleteAnsweredWrite(RigNode* node, int result)
{
    if (!node->answeredWrite) return;
    const RigNode::AnsweredWrite write = *node->answeredWrite;
    node->answeredWrite.reset();
    node->calls.complete(write.context, result, nullptr, result == RIG_DONE ? write.taken : 0);
}

void Controller::WriteRecord()
{
    if (recordFolder_.empty()) return;
    std::lock_guard<std::mutex> lock(recordMutex_);
    WriteControllerRecord(recordFolder_, *model_);
}

}  // namespace rig
