#pragma once
// Records every progress call of a delivery job in order, as the delivery window would show them.

#include <functional>
#include <string>
#include <vector>

#include "delivery/delivery_job.h"

namespace vox::test {

class RecordingObserver : public DeliveryObserver {
public:
    std::vector<std::string> events;  // "recipient a@b", "recipient-bar", "bar=0", "step", "line ..."
    std::vector<std::string> lines;   // only the status lines
    std::function<void(const std::string& line)> onLine;

    void SetRecipientText(const std::string& address) override { events.push_back("recipient " + address); }
    void StepRecipientBar() override { events.push_back("recipient-bar"); }
    void SetStepBar(int position) override { events.push_back("bar=" + std::to_string(position)); }
    void StepStepBar() override { events.push_back("step"); }
    void SetStepLine(const std::string& text) override {
        events.push_back("line " + text);
        lines.push_back(text);
        if (onLine) onLine(text);
    }
};

}  // namespace vox::test
