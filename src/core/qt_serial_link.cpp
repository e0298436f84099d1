#include "core/qt_serial_link.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <QSerialPort>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "core/port_names.h"
#include "core/qt_serial_ports.h"

#ifdef __linux__
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif
#ifndef _WIN32
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace fernwick::core {
namespace {

constexpr int k_write_slice_ms = 100;
// Beyond the line time of a write: the driver may still be draining earlier bytes.
constexpr int k_write_grace_ms = 1000;

QSerialPort::Parity parity_of(char letter)
{
    switch (letter) {
    case 'o': return QSerialPort::OddParity;
    case 'e': return QSerialPort::EvenParity;
    case 'm': return QSerialPort::MarkParity;
    case 's': return QSerialPort::SpaceParity;
    default: return QSerialPort::NoParity;
    }
}

// Fewer milliseconds between a byte arriving and the poll seeing it; ptys and
// many adapters refuse, which only costs latency. True when the driver took
// the change, which closing the port takes back.
bool ask_low_latency([[maybe_unused]] QSerialPort& port)
{
#ifdef __linux__
    const int fd = static_cast<int>(port.handle());
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) != 0) return false;
    info.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
#else
    return false;
#endif
}

// The next program to open the port finds it as this one did.
void end_low_latency([[maybe_unused]] QSerialPort& port)
{
#ifdef __linux__
    const int fd = static_cast<int>(port.handle());
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
#endif
}

std::string text_of(const QString& text) { return text.toStdString(); }

// A read that finds nothing is also what a hung-up terminal gives, but it
// happens too when a poll took the bytes the event loop was told about.
bool hung_up([[maybe_unused]] QSerialPort& port)
{
#ifndef _WIN32
    pollfd p{static_cast<int>(port.handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    return true;
#endif
}

// Qt reports a port that another program has locked as a permission error;
// only a device the user may open tells the two apart. A device the user
// may not open is most often one of a group the user has not joined yet; a
// missing one, a name mistyped or an adapter on another number.
std::string open_failure(QSerialPort& port, [[maybe_unused]] const std::string& device, int comm_port,
                         bool by_port_number)
{
    if (port.error() == QSerialPort::DeviceNotFoundError)
        return with_port_list(text_of(port.errorString()), serial_ports(), comm_port, by_port_number);
#ifndef _WIN32
    if (port.error() == QSerialPort::PermissionError) {
        if (::access(device.c_str(), R_OK | W_OK) == 0) return "held by another program";
        return with_group_advice(text_of(port.errorString()), device_group(device));
    }
#endif
    return text_of(port.errorString());
}

}  // namespace

qt_serial_link::qt_serial_link(std::string device)
    : port_(std::make_unique<QSerialPort>()), fixed_device_(std::move(device))
{
    QObject::connect(port_.get(), &QSerialPort::readyRead, port_.get(), [this] { on_ready_read(); });
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, port_.get(),
                     [this](QSerialPort::SerialPortError error) { on_error(error); });
}

qt_serial_link::~qt_serial_link()
{
    // The port's last signals must not reach a half-destroyed link.
    QObject::disconnect(port_.get(), nullptr, nullptr, nullptr);
    close();
}

bool qt_serial_link::open()
{
    error_.clear();
    gone_ = false;
    if (is_open()) return fail("the port is already open");
    const auto device = fixed_device_.empty() ? device_for_port(comm_port()) : fixed_device_;
    device_ = device.empty() ? "COM " + std::to_string(comm_port()) : device;
    if (device.empty()) return fail("names no port");
    if (const auto problem = port_name_problem(device)) {
        device_ = printable_name(device);
        error_ = *problem;
        return false;
    }
    const auto line = parse_settings(settings());
    if (!line) return fail("malformed settings \"" + settings() + "\"");

    port_->setPortName(QString::fromStdString(device));
    device_ = device_path(device);  // what the system opens
    port_->setBaudRate(line->baud);
    port_->setDataBits(static_cast<QSerialPort::DataBits>(line->data_bits));
    port_->setParity(parity_of(line->parity));
    port_->setStopBits(line->stop_bits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    port_->setFlowControl(QSerialPort::NoFlowControl);
    // Only the windows open a port by its number; fernwick-cli names its device.
    if (!port_->open(QIODevice::ReadWrite))
        return fail(open_failure(*port_, device_, comm_port(), fixed_device_.empty()));
    if (!claim()) return false;
    low_latency_asked_ = ask_low_latency(*port_);
    return true;
}

void qt_serial_link::close()
{
    if (!port_->isOpen()) return;
    if (low_latency_asked_) end_low_latency(*port_);
    low_latency_asked_ = false;
    port_->close();
}

bool qt_serial_link::is_open() const { return port_->isOpen(); }

bool qt_serial_link::write(const byte_string& data)
{
    // A device that went away keeps the reason it went with.
    if (!is_open()) return gone_ ? false : fail("the port is not open");
#ifndef _WIN32
    return write_to_driver(data);
#else
    const auto size = static_cast<qint64>(data.size());
    if (port_->write(data.data(), size) != size)
        return fail("the port refused the write: " + text_of(port_->errorString()));
    // The flash exchanges poll without running the event loop, so the bytes
    // must be with the driver before the write returns.
    const QDeadlineTimer deadline(line_time_ms(data.size(), port_->baudRate()) + k_write_grace_ms);
    while (port_->bytesToWrite() > 0) {
        const bool progressed = port_->waitForBytesWritten(k_write_slice_ms);
        if (!is_open()) return went_away(" while writing");
        if (!progressed && port_->error() != QSerialPort::TimeoutError && port_->bytesToWrite() > 0)
            return fail("write failed: " + text_of(port_->errorString()));
        if (deadline.hasExpired()) {
            port_->clear(QSerialPort::Output);
            return fail("the device did not take the bytes in time");
        }
    }
    written_ = std::chrono::steady_clock::now();
    return true;
#endif
}

#ifndef _WIN32
// Straight into the driver, as the flash exchanges poll without running the
// event loop: Qt's buffer would cost a poll and a pass through its notifier
// for every byte of a block, which goes out one write at a time.
bool qt_serial_link::write_to_driver(const byte_string& data)
{
    const int fd = static_cast<int>(port_->handle());
    const QDeadlineTimer deadline(line_time_ms(data.size(), port_->baudRate()) + k_write_grace_ms);
    for (std::size_t done = 0; done < data.size();) {
        const auto n = ::write(fd, data.data() + done, data.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return went_away(std::string(" while writing: ") + std::strerror(errno));
        if (deadline.hasExpired()) {
            ::tcflush(fd, TCOFLUSH);
            return fail("the device did not take the bytes in time");
        }
        pollfd room{fd, POLLOUT, 0};
        const auto slice = std::min<qint64>(deadline.remainingTime(), k_write_slice_ms);
        if (::poll(&room, 1, static_cast<int>(slice)) > 0 && (room.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return went_away(" while writing");
    }
    written_ = std::chrono::steady_clock::now();
    return true;
}
#endif

byte_string qt_serial_link::read_all()
{
    // Bytes already taken from the driver are read as they are: a wait that
    // just returned has pulled them, and later ones come with the next call.
    if (is_open() && port_->bytesAvailable() == 0) pull();
    if (!is_open()) return {};
    const QByteArray data = port_->readAll();
    return byte_string(data.constData(), static_cast<std::size_t>(data.size()));
}

int qt_serial_link::pending()
{
    pull();
    return static_cast<int>(port_->bytesAvailable());
}

bool qt_serial_link::wait_for_data(int ms)
{
    if (!is_open()) return false;
    if (port_->bytesAvailable() > 0) return true;
    // Returns at once when the driver holds bytes.
    port_->waitForReadyRead(ms);
    return is_open() && port_->bytesAvailable() > 0;
}

std::string qt_serial_link::error_text() const { return error_; }

int qt_serial_link::ms_since_write() const
{
    const auto since = std::chrono::steady_clock::now() - written_;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

bool qt_serial_link::set_modem_lines(const modem_lines& lines)
{
    if (!is_open()) return gone_ ? false : fail("the port is not open");
#ifndef _WIN32
    const int fd = static_cast<int>(port_->handle());
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0)
        return fail(std::string("the port has no modem lines (") + std::strerror(errno) + ")");
    for (const auto& [line, on] : {std::pair{TIOCM_DTR, lines.dtr}, std::pair{TIOCM_RTS, lines.rts}})
        if (on) bits = *on ? bits | line : bits & ~line;
    // One call for both: an adapter whose lines drive reset and the bootstrap
    // pin never shows the board one changed without the other.
    if (::ioctl(fd, TIOCMSET, &bits) != 0)
        return fail(std::string("the port refused to set its modem lines (") + std::strerror(errno) + ")");
#else
    if ((lines.dtr && !port_->setDataTerminalReady(*lines.dtr)) || (lines.rts && !port_->setRequestToSend(*lines.rts)))
        return fail("the port refused to set its modem lines (" + text_of(port_->errorString()) + ")");
#endif
    return true;
}

bool qt_serial_link::fail(const std::string& why)
{
    error_ = device_ + ": " + why;
    return false;
}

bool qt_serial_link::went_away(const std::string& why)
{
    gone_ = true;
    close();
    return fail("the device went away" + why);
}

// Qt's lock file is keyed by the path, so the same device under another name
// (a /dev/serial/by-id link) would pass it, and TIOCEXCL does not stop root.
bool qt_serial_link::claim()
{
#ifndef _WIN32
    if (::flock(static_cast<int>(port_->handle()), LOCK_EX | LOCK_NB) != 0) {
        port_->close();
        return fail("held by another program");
    }
#endif
    return true;
}

// Bytes still in the driver count as pending: the polled exchanges never run
// the event loop that would otherwise collect them.
void qt_serial_link::pull()
{
    if (is_open()) port_->waitForReadyRead(0);
}

void qt_serial_link::on_ready_read()
{
    if (threshold() != 1 || receive_posted_) return;
    receive_posted_ = true;
    // Queued: the handler that wrote or polled returns before the next one runs.
    QMetaObject::invokeMethod(
        port_.get(), [this] { deliver_receive(); }, Qt::QueuedConnection);
}

void qt_serial_link::deliver_receive()
{
    receive_posted_ = false;
    if (threshold() == 1 && is_open() && port_->bytesAvailable() > 0) notify(k_comm_event_receive);
}

void qt_serial_link::on_error(int error)
{
    // A pulled-out adapter (or a hung-up terminal, whose reads end without an
    // error code): later calls fail at once instead of polling a dead device.
    if (error == QSerialPort::ReadError && !hung_up(*port_)) {
        port_->clearError();
        return;
    }
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError) return;
    // A hung-up read carries no error code, and Qt's text would say "Unknown error".
    went_away(error == QSerialPort::ReadError ? " (the line hung up)" : ": " + text_of(port_->errorString()));
}

}  // namespace fernwick::core
