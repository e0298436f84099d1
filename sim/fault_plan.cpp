#include "fault_plan.h"

namespace fernwick::sim {

fault_plan::fault_plan(std::vector<exchange_fault> faults) : faults_(std::move(faults)) {}

exchange_fault fault_plan::next(exchange_kind kind)
{
    const int nth = ++counts_[static_cast<std::size_t>(kind)];
    exchange_fault merged;
    merged.kind = kind;
    merged.nth = nth;
    for (const auto& f : faults_) {
        if (f.kind != kind || f.nth != nth) continue;
        merged.wrong_checksum = merged.wrong_checksum || f.wrong_checksum;
        if (f.status) merged.status = f.status;
        merged.silence = merged.silence || f.silence;
        merged.delay_ms += f.delay_ms;
        merged.drop = merged.drop || f.drop;
        merged.repeat = merged.repeat || f.repeat;
        merged.repeat_after_ms += f.repeat_after_ms;
    }
    return merged;
}

bool carried_out(const exchange_fault& fault) { return !fault.silence && !fault.drop && !fault.status; }

reaction exchange_answer(const exchange_fault& fault, std::vector<std::uint8_t> lead, int work_ms, std::uint8_t status)
{
    reaction r;
    r.busy_ms = fault.delay_ms + work_ms;
    if (fault.silence) return r;
    if (fault.drop) {
        r.drop_after_ms = fault.delay_ms;
        return r;
    }
    if (fault.wrong_checksum && !lead.empty()) ++lead.back();
    for (const auto b : lead) r.answer.push_back({fault.delay_ms, b});
    r.answer.push_back({fault.delay_ms + work_ms, fault.status.value_or(status)});
    // The copy leaves as soon as the last byte is out, right behind it on the line, or later when asked.
    if (fault.repeat)
        for (std::size_t i = 0, n = r.answer.size(); i < n; ++i)
            r.answer.push_back({fault.delay_ms + work_ms + fault.repeat_after_ms, r.answer[i].value});
    return r;
}

}  // namespace fernwick::sim
