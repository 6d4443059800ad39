#include "host_system/world.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "host_system/power_cut.h"
#include "rtx/rtx.h"
#include "rtx/rtx_host.h"

namespace host_system {

namespace {

// Whether a world has been made in this process: a later one starts a fresh executive.
bool g_world_made = false;

// The wait of one round while a reply is awaited: short, so that a suspended task is seen.
constexpr std::uint16_t kPollMs = 20;

}  // namespace

World::World(const Root& root, WorldOptions options)
    : options_(options), behaviour_(options.behaviour ? options.behaviour : &standard_) {
    if (g_world_made) {
        if (options_.restart_module == nullptr) {
            std::fprintf(stderr, "host_system: a second world needs the module's restart\n");
            std::abort();
        }
        rtx_host_reset();
        options_.restart_module();
    }
    g_world_made = true;
    arm_power_cut_from_environment();
    rtx_host_console_echo(0);
    root.enter();
    if (options_.segment_limit != 0) rtx_host_set_segment_limit(options_.segment_limit);

    error_mbx_ = rtx_host_create_mailbox(CATALOG_ERROR_MBX);
    if (options_.error_qmbx) error_qmbx_ = rtx_host_create_mailbox(CATALOG_ERROR_QMBX);
    rtx_status status{};
    rtx_creatembx(&reply_mbx_, 0, &status);
    ready_ =
        error_mbx_ != 0 && (error_qmbx_ != 0 || !options_.error_qmbx) && status.status == RTX_OK;

    std::vector<const char*> names = {CATALOG_GUI_MBX, CATALOG_IECSTATE_MBX};
    if (options_.api_mbx) names.push_back(CATALOG_API_MBX);
    if (options_.partners == PartnerLayout::shared) {
        const std::uint16_t mbx = rtx_host_create_mailbox(names[0]);
        ready_ = ready_ && mbx != 0;
        for (std::size_t i = 1; i < names.size(); ++i) {
            rtx_catalog(mbx, names[i], 0, &status);
            ready_ = ready_ && status.status == RTX_OK;
        }
        partner_mbx_.push_back(mbx);
    } else {
        for (const char* name : names) {
            partner_mbx_.push_back(rtx_host_create_mailbox(name));
            ready_ = ready_ && partner_mbx_.back() != 0;
        }
    }
    if (options_.partners == PartnerLayout::none) return;
    serving_.assign(partner_mbx_.size(), true);
    markers_sent_.assign(partner_mbx_.size(), 0);
    markers_taken_.assign(partner_mbx_.size(), 0);
    for (std::size_t i = 0; i < partner_mbx_.size(); ++i)
        threads_.emplace_back([this, i] { serve(i); });
}

World::~World() {
    shutdown();
}

void World::start() {
    rtx_host_system_start();
}

void World::shutdown() {
    if (shut_down_) return;
    shut_down_ = true;
    // The partners' waits end with RTX_E_SHUTDOWN.
    rtx_host_shutdown();
    for (std::thread& t : threads_) t.join();
}

bool World::task_suspended() {
    return rtx_host_task_suspended(CATALOG_ERROR_TASK) == 1;
}

bool World::send(const Bytes& message, const char* origin, int line) const {
    return host_system::send(error_mbx_, message, origin, line);
}

bool World::send_asking(Bytes message, const char* origin, int line) const {
    put16(message, MSG_REPLY_MODE, REPLY_MODE_TO_MBX);
    put16(message, MSG_REPLY_MBX, reply_mbx_);
    return send(message, origin, line);
}

Reply World::receive_reply(Limit limit) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    Reply reply;
    for (;;) {
        reply.status = take(reply_mbx_, kPollMs, reply.message);
        if (reply.status == RTX_OK) {
            reply.outcome = Reply::answered;
            return reply;
        }
        if (reply.status != RTX_E_TIMEOUT) {
            reply.outcome = Reply::failed;
            return reply;
        }
        if (task_suspended()) {
            reply.outcome = Reply::suspended;
            return reply;
        }
        if (limit != kNoLimit && Clock::now() >= deadline) {
            reply.outcome = Reply::timed_out;
            return reply;
        }
    }
}

Reply World::await(std::uint16_t tag, Limit limit, std::vector<Bytes>* others) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<Limit>(deadline - Clock::now());
        Reply reply = receive_reply(limit == kNoLimit ? kNoLimit : std::max(left, Limit(1)));
        if (!reply.ok() || get16(reply.message, MSG_REPLIED_TAG) == tag) return reply;
        if (others) others->push_back(std::move(reply.message));
    }
}

std::uint16_t World::next_tag() {
    if (++tag_ == 0) ++tag_;
    return tag_;
}

Reply World::sync(Limit limit, std::vector<Bytes>* others) {
    const std::uint16_t tag = next_tag();
    Header header;
    header.sender = tag;
    header.replied_tag = tag;
    if (!send_asking(message(header, {}), "host_system sync", 0)) {
        Reply reply;
        reply.outcome = Reply::unsent;
        return reply;
    }
    return await(tag, limit, others);
}

bool World::flush_partners() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (const std::thread& t : threads_)
        if (t.get_id() == std::this_thread::get_id()) return true;
    // Each marker is sent under the lock, so the markers of one mailbox go in ticket order.
    std::vector<std::uint64_t> tickets(serving_.size(), 0);
    bool sent = true;
    for (std::size_t i = 0; i < serving_.size(); ++i) {
        if (!serving_[i]) continue;
        if (!host_system::send(partner_mbx_[i], Bytes{0}, "host_system marker", 0)) {
            sent = false;
            continue;
        }
        tickets[i] = ++markers_sent_[i];
    }
    changed_.wait(lock, [&] {
        for (std::size_t i = 0; i < serving_.size(); ++i)
            if (serving_[i] && markers_taken_[i] < tickets[i]) return false;
        return true;
    });
    return sent;
}

Partner World::partner_of(std::size_t index, const Bytes& message) const {
    if (options_.partners == PartnerLayout::shared) {
        switch (first_command(message)) {
            case CMD_STATUS_TEXT:
                return Partner::status;
            case CMD_API_NOTIFY:
                return Partner::api;
            default:
                return Partner::ui;
        }
    }
    return index == 0 ? Partner::ui : index == 1 ? Partner::status : Partner::api;
}

void World::serve(std::size_t index) {
    for (;;) {
        std::uint16_t segment = 0;
        rtx_status status{};
        _rtx_getmessage(&segment, partner_mbx_[index], RTX_WAIT_FOREVER, 0, &status);
        if (status.status != RTX_OK) break;  // the executive ends (or the mailbox failed)
        const Bytes bytes = segment_bytes(segment);
        if (bytes.size() == 1) {
            std::lock_guard<std::mutex> lock(mutex_);
            ++markers_taken_[index];
            changed_.notify_all();
        } else {
            behaviour_->take(partner_of(index, bytes), bytes, buildptr(segment, 0));
        }
        rtx_global_free(segment, &status);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    serving_[index] = false;
    changed_.notify_all();
}

}  // namespace host_system
