// The script runner: sends each command of the script to the error task and waits until the
// error task, then the partner tasks, have handled it, before the next command is sent.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host_system/world.h"
#include "output.h"
#include "partners.h"
#include "script.h"
#include "sim.h"

namespace errsim {

class Runner {
  public:
    Runner(Output& out, host_system::World& world, Partners& partners, const Options& options,
           std::vector<void*> modules)
        : out_(out),
          world_(world),
          partners_(partners),
          options_(options),
          modules_(std::move(modules)) {}

    // What went wrong, and the script line (0: the start of the system).
    const std::string& failure() const { return failure_; }
    int failure_line() const { return failure_line_; }

    // Waits until the error task has handled everything sent so far, then the partners.
    bool sync(int line);
    bool run(const Command& c);

  private:
    bool fail(int line, const std::string& what);
    bool send(const host_system::Bytes& message, int line);
    bool simple(std::uint16_t command, int line);
    // Sends message asking for its answer under a tag of its own and waits for that answer.
    bool request(host_system::Bytes message, host_system::Bytes& answer, int line);
    bool awaited(const host_system::Reply& reply, int line);
    // After the error task: the partner tasks, then any unfinished console line.
    void settle();

    bool report(const Command& c);
    bool export_log(const Command& c);
    bool erase(const Command& c);
    bool show(const Command& c);
    bool module_call(const Command& c);
    bool storm(const Command& c);

    Output& out_;
    host_system::World& world_;
    Partners& partners_;
    const Options& options_;
    std::vector<void*> modules_;
    std::string failure_;
    int failure_line_ = 0;
};

}  // namespace errsim
