#include "host_system/logs.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

#include "log_check.h"
#include "log_path.h"
#include "rtx/rtx_host.h"
#include "task_state.h"

namespace host_system {

LogPlan plan_log(int log_id) {
    LogPlan plan;
    char path[err::kPathSize];
    const err::LogPathDecision decision = err::decide_log_path(log_id, path, sizeof path);
    plan.on = decision.usable;
    if (!plan.on) {
        plan.off_reason = decision.source == err::LogPathSource::no_boot_file ? "no boot file"
                          : decision.source == err::LogPathSource::no_word    ? "no file named"
                                                                              : "path too long";
        return plan;
    }
    plan.exec_path = path;
    char host[4096];
    if (rtx_map_path(path, host, sizeof host) == 0) plan.host_path = host;
    return plan;
}

LogVerdict judge_log(const LogPlan& plan) {
    LogVerdict verdict;
    // The executive's file calls refuse a folder, so the task finds no log there either.
    std::error_code ec;
    if (!plan.on || !std::filesystem::is_regular_file(plan.host_path, ec)) return verdict;
    std::ifstream in(plan.host_path, std::ios::binary);
    if (!in) return verdict;
    const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>{});
    const err::LogCheckResult check = err::check_log_image(bytes.data(), bytes.size());
    verdict.state = check.ok() ? LogVerdict::valid : LogVerdict::corrupt;
    char reason[256];
    err::describe_log_check(check, reason, sizeof reason);
    verdict.reason = reason;
    return verdict;
}

}  // namespace host_system
