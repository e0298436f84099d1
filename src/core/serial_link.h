#pragma once
// The serial port service: what the bring-up, the reply engine and the
// flash exchanges need from a serial line, whatever carries it.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fernwick::core {

// Serial data: one char per byte, any value 0x00-0xFF.
using byte_string = std::string;

constexpr int k_comm_event_receive = 2;  // data received

struct line_settings {
    int baud = 9600;
    char parity = 'n';
    int data_bits = 8;
    int stop_bits = 1;
};

// Reads a settings text such as "19200,n,8,1"; nullopt when malformed.
std::optional<line_settings> parse_settings(std::string_view text);

// Time in ms that n bytes take on the line at the given rate (10 bits per byte).
int line_time_ms(std::size_t n, int baud);

// The adapter's modem lines to set: asserted (true) or not; nullopt leaves
// a line as it is.
struct modem_lines {
    std::optional<bool> dtr, rts;
};

class serial_link {
public:
    // Called on the UI thread with the event code (2 = data received).
    using receive_callback = std::function<void(int comm_event)>;

    virtual ~serial_link() = default;

    void set_comm_port(int port) { port_ = port; }
    int comm_port() const { return port_; }
    void set_settings(std::string text) { settings_ = std::move(text); }
    const std::string& settings() const { return settings_; }

    // Opens with the current port and settings. False on a missing or busy
    // device or a malformed settings text; error_text() then says why.
    virtual bool open() = 0;
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    // Queues every byte in order; false when the link refuses the write.
    virtual bool write(const byte_string& data) = 0;
    // Every pending received byte in arrival order; empty if none.
    virtual byte_string read_all() = 0;
    virtual int pending() = 0;
    // Waits at most `ms` for at least one pending byte (the polled exchanges).
    virtual bool wait_for_data(int ms) = 0;
    // Why the last open or write failed, or why the device went away: the
    // device and the system's reason, e.g. "/dev/ttyUSB0: No such file or
    // directory".
    virtual std::string error_text() const = 0;
    // True once the device went away while open (an adapter pulled out, the
    // other end of a pseudo-terminal closed), until the next open: the link
    // is closed then, and error_text() says why. A dead line that stays
    // open is not gone; it only stays silent.
    virtual bool gone() const { return false; }
    // Milliseconds since the last write handed its bytes to the line; a link
    // that cannot tell says 0, which only makes a wait counted from the write
    // longer.
    virtual int ms_since_write() const { return 0; }
    // Sets the lines given, both in one call where both are. False where the
    // port has none (a pseudo-terminal) or refuses; error_text() then says why.
    virtual bool set_modem_lines(const modem_lines& lines);
    // Lets ms go by with the lines as they are (a wait of an entry sequence).
    virtual void pause(int ms);

    // How late the answers came beyond the time the line and the chip need
    // for them, counted from the last write: an adapter that holds short
    // answers back (its latency timer) shows here. The exchanges say, as
    // they take an answer, when it was due; the first k_delays_counted
    // answers since clear_answer_delay count.
    static constexpr std::size_t k_delays_counted = 16;
    void answer_taken(double due_ms);
    // The average of the earlier half of them: a busy system makes some
    // answers late, an adapter every one. nullopt before the first answer.
    std::optional<double> answer_delay_ms() const;
    void clear_answer_delay() { delays_ms_.clear(); }

    // 0: no receive notifications; 1: one whenever a byte is pending.
    virtual void set_threshold(int threshold) { threshold_ = threshold; }
    int threshold() const { return threshold_; }
    void set_receive_callback(receive_callback cb) { on_receive_ = std::move(cb); }

protected:
    void notify(int comm_event) const
    {
        if (on_receive_) on_receive_(comm_event);
    }

private:
    int port_ = 1;
    std::string settings_ = "9600,n,8,1";
    int threshold_ = 1;
    receive_callback on_receive_;
    std::vector<double> delays_ms_;
};

}  // namespace fernwick::core
