#include "core/link_trace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "core/forwarding_link.h"
#include "core/hex_text.h"

namespace fernwick::core {

namespace {

class traced_link : public forwarding_link {
public:
    traced_link(std::unique_ptr<serial_link> inner, std::string name, std::shared_ptr<trace_file> trace)
        : forwarding_link(std::move(inner)), name_(std::move(name)), trace_(std::move(trace))
    {
    }

    bool open() override
    {
        const bool ok = forwarding_link::open();
        const auto what = "COM " + std::to_string(comm_port()) + " " + settings();
        trace_->record(name_, ok ? "open" : "open-failed", ok ? what : what + ": " + error_text());
        return ok;
    }
    void close() override
    {
        forwarding_link::close();
        trace_->record(name_, "close", {});
    }
    bool write(const byte_string& data) override
    {
        const bool ok = forwarding_link::write(data);
        trace_->record_bytes(name_, ok ? "out" : "out-failed", data);
        return ok;
    }
    byte_string read_all() override
    {
        auto data = forwarding_link::read_all();
        if (!data.empty()) trace_->record_bytes(name_, "in", data);
        return data;
    }

private:
    std::string name_;
    std::shared_ptr<trace_file> trace_;
};

}  // namespace

namespace {

// The trace files still open, completed when the program ends at once.
std::vector<trace_file*>& open_traces()
{
    static std::vector<trace_file*> traces;
    return traces;
}

void complete_open_traces()
{
    for (auto* trace : open_traces()) trace->complete();
}

}  // namespace

std::shared_ptr<trace_file> trace_file::create(const std::string& path, std::string& reason)
{
    // As a log is opened: never through a link (it may point into the
    // operator's own files), never blocked by a FIFO, never cutting a trace
    // another run still writes, and only a regular file, where a write
    // that fails is a full disk, not a device that swallows it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        // ENXIO: a FIFO that no one reads.
        reason = errno == ELOOP   ? "a link; a trace is not written through one"
                 : errno == ENXIO ? "not a regular file"
                                  : std::generic_category().message(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        reason = "not a regular file";
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        reason = "held by another run";
    else if (::ftruncate(fd, 0) != 0)
        reason = std::generic_category().message(errno);
    std::FILE* file = reason.empty() ? ::fdopen(fd, "w") : nullptr;
    if (!file) {
        if (reason.empty()) reason = std::generic_category().message(errno);
        ::close(fd);
        return nullptr;
    }
    static const bool registered = std::at_quick_exit(complete_open_traces) == 0;
    (void)registered;
    std::shared_ptr<trace_file> trace(new trace_file(file));
    open_traces().push_back(trace.get());
    return trace;
}

trace_file::~trace_file()
{
    complete();
    std::erase(open_traces(), this);
    std::fclose(file_);
}

void trace_file::complete() { write_pending(); }

long long trace_file::now_ms() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
}

void trace_file::write_line(long long ms, std::string_view link, std::string_view event, std::string_view details)
{
    // "%.*s" needs an array even for no characters, and an empty view may
    // point nowhere (the optimiser of a release build warns of it).
    if (details.empty()) details = "";
    std::fprintf(file_, "%lld %.*s %.*s%s%.*s\n", ms, static_cast<int>(link.size()), link.data(),
                 static_cast<int>(event.size()), event.data(), details.empty() ? "" : " ",
                 static_cast<int>(details.size()), details.data());
    // A trace is read after a crash or a pulled cable: keep it on disk.
    if (std::fflush(file_) != 0) whole_ = false;
}

void trace_file::write_pending()
{
    if (pending_link_.empty()) return;
    write_line(pending_ms_, pending_link_, "out", pending_hex_);
    pending_link_.clear();
    pending_hex_.clear();
}

void trace_file::record(std::string_view link, std::string_view event, std::string_view details)
{
    write_pending();
    write_line(now_ms(), link, event, details);
}

void trace_file::record_bytes(std::string_view link, std::string_view event, const byte_string& bytes)
{
    const std::string hex = hex_bytes(bytes);
    if (event != "out") {
        record(link, event, hex);
        return;
    }
    if (pending_link_ != link) {
        write_pending();
        pending_link_ = link;
        pending_ms_ = now_ms();
    }
    if (!pending_hex_.empty() && !hex.empty()) pending_hex_ += ' ';
    pending_hex_ += hex;
}

std::optional<std::string> trace_links_from_environment(app_state& s)
{
    const char* path = std::getenv("FERNWICK_TRACE");
    if (!path || !*path) return std::nullopt;
    std::string reason;
    const auto trace = trace_file::create(path, reason);
    if (!trace) return "cannot create the trace file " + std::string(path) + ": " + reason;
    trace_links(s, trace);
    return std::nullopt;
}

void trace_links(app_state& s, const std::shared_ptr<trace_file>& trace)
{
    s.RESETFORM.MSCom0 = std::make_unique<traced_link>(std::move(s.RESETFORM.MSCom0), "MSCom0", trace);
    s.mainform.COM = std::make_unique<traced_link>(std::move(s.mainform.COM), "COM", trace);
}

}  // namespace fernwick::core
