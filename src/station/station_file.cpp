#include "station/station_file.h"

#include <sys/stat.h>
#include <QCryptographicHash>
#include <mutex>
#include <sstream>
#include <thread>

#include "programming/text_file.h"

namespace fernwick::station {

namespace fs = std::filesystem;

std::shared_ptr<const station_file> load_file(const station_setup& r, std::string& why)
{
    // A FIFO or a device would hold its reader, or never end.
    struct stat info {};
    if (::stat(r.choices.hex_file.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        why = r.choices.hex_file + ": not a regular file";
        return nullptr;
    }
    const auto stamp = file_stamp(r.choices.hex_file);
    std::string unread;
    const auto before = describe_run(r.choices, r.baud, unread);
    if (!before) {
        why = unread;
        return nullptr;
    }
    std::ostringstream notes;
    const auto p = make_plan(r.choices, notes, r.serial);
    if (!p.refusal.empty()) {
        std::ostringstream refusal;
        print_refusal(refusal, "station", p);
        why = refusal.str();
        while (why.ends_with('\n')) why.pop_back();
        return nullptr;
    }
    auto file = std::make_shared<station_file>();
    file->description = *before;
    file->stamp = stamp;
    file->description.product = r.product;
    file->description.job_sha256 = r.job_sha256;
    file->description.operator_name = r.operator_name;
    file->description.lot = r.lot;
    const auto written = programming::write_block_file(p.conversion);
    if (written.ok())
        file->description.block_file = fs::absolute(written.new_file_name).lexically_normal().string();
    else if (written.failure->what == programming::conversion_failure::kind::unwritable)
        file->notes.push_back("warning: " + programming::failure_text(*written.failure) +
                              "; the boards get the blocks converted in memory");
    // What every board reads, one under way when the file changes on disk too.
    auto text = programming::read_text_file(r.choices.hex_file);
    const auto after = describe_run(r.choices, r.baud, unread);
    if (!after || after->hex_sha256 != before->hex_sha256 || !text.text ||
        QCryptographicHash::hash(QByteArrayView(*text.text), QCryptographicHash::Sha256).toHex().toStdString() !=
            before->hex_sha256) {
        why = unread.empty() ? r.choices.hex_file + " changed while it was read" : unread;
        return nullptr;
    }
    file->description.unplaced = p.unplaced_all;
    file->description.bench = r.bench;
    std::ostringstream left_out;
    print_left_out(left_out, "station", p);
    constexpr std::string_view k_prefix = "fernwick-cli station: ";
    for (const auto* said : {&notes, &left_out}) {
        std::istringstream lines(said->str());
        // Said later behind the station's own prefix: not twice.
        for (std::string line; std::getline(lines, line);)
            file->notes.push_back(line.starts_with(k_prefix) ? line.substr(k_prefix.size()) : line);
    }
    file->blocks = std::make_shared<const core::prepared_blocks>(
        core::prepared_blocks{p.sectors, p.conversion.new_file_name, p.conversion.block_text, p.conversion.block_count,
                              std::move(*text.text)});
    return file;
}

std::string file_stamp(const fs::path& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

struct file_checker::mailbox {
    std::mutex mutex;
    QObject* context = nullptr;  // nullptr once the checker is gone
    done_fn done;
    int latest = 0;  // the check whose result is wanted
};

file_checker::file_checker(QObject& context, done_fn done) : mailbox_(std::make_shared<mailbox>())
{
    mailbox_->context = &context;
    mailbox_->done = std::move(done);
}

file_checker::~file_checker()
{
    const std::lock_guard lock(mailbox_->mutex);
    mailbox_->context = nullptr;
}

void file_checker::check(const station_setup& r)
{
    int ticket = 0;
    {
        const std::lock_guard lock(mailbox_->mutex);
        ticket = ++mailbox_->latest;
    }
    // Its own copy of the request: the check may outlive the station.
    std::thread([request = r, ticket, box = mailbox_] {
        std::string why;
        auto file = load_file(request, why);
        const std::lock_guard lock(box->mutex);
        if (!box->context || ticket != box->latest) return;
        QMetaObject::invokeMethod(
            box->context,
            [box, ticket, file = std::move(file), why] {
                done_fn done;
                {
                    const std::lock_guard lock(box->mutex);
                    if (!box->context || ticket != box->latest) return;
                    done = box->done;
                }
                done(file, why);
            },
            Qt::QueuedConnection);
    }).detach();
}

}  // namespace fernwick::station
