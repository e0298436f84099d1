#pragma once
// What a production line keeps of a run of "program": one JSON line per
// board appended to a report file, the table printed at the end, and the
// line that says where a board's run failed or stopped.

#include <QJsonObject>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "station/board_outcome.h"
#include "station/file_preparation.h"
#include "station/ledger.h"

namespace fernwick::station {

// What every board of one run shares.
struct run_description {
    std::string hex_file;    // absolute
    std::string hex_sha256;  // lower-case hex
    std::string block_file;  // absolute; empty when it could not be written
    hex_choices choices;
    int baud = 9600;
    std::string tool_version = FERNWICK_VERSION;
    std::vector<std::string> unplaced;  // the ranges of file bytes left out (--allow-unplaced)
    core::bench_setup bench;            // the entry and exit sequences
    // A job's run (empty otherwise): its product, the job file's SHA-256,
    // who ran it and the boards' lot.
    std::string product, job_sha256, operator_name, lot;
};

// A path or device name for JSON: as it is when it is UTF-8, which JSON
// must be; each other byte as the four characters \xHH.
QString name_text(const std::string& s);

// The file's SHA-256 in lower-case hex; nullopt with `why` ("path: reason").
std::optional<std::string> sha256_of_file(const std::string& path, std::string& why);

// The choices with the hex file made absolute and hashed; nullopt with `why`
// when the file cannot be read.
std::optional<run_description> describe_run(const hex_choices& c, int baud, std::string& why);

// One board's record. The step, sector and block are there for a failure or
// a stop, the received bytes and whether the board went away for a failure
// only; sector and block are null where the step has none, bsl_now,
// bsl_target and bsl_now_after null for -99, block_file null when it was not
// written, answer_delay_ms null when no block was answered. With retries,
// `attempts` holds each attempt (its start and end for the code, its time,
// and how it failed) and `attempts_allowed` the bound; the bytes and seconds
// are those of all attempts; `serial` is there for a board that kept a serial
// number. Paths and the device go out as they are when they are
// UTF-8; a byte that is not becomes the four characters \xHH.
QJsonObject report_record(const run_description& d, const board_outcome& o);

// Why `path` cannot take the report: it cannot be opened for appending, or
// it is no regular file (a FIFO would hold the run at its end); nullopt when
// it can.
std::optional<std::string> check_report(const std::string& path);

// Appends one line per record, never truncating. Each line goes out in one
// write(2) on an O_APPEND descriptor, so that several programs appending to
// one file never mix their lines. The reason ("path: reason") on failure.
std::optional<std::string> append_report(const std::string& path, const std::vector<QJsonObject>& records);

// The end table: one row per board, plain ASCII; with retries, the attempts
// each board took.
void print_table(std::ostream& out, const std::vector<board_outcome>& boards);

// A single board's summary after program: the blocks and bytes, the time,
// and the share of the line's rate the bytes took.
std::string summary_text(const board_outcome& o, int baud);

// Each failed board's reason, for below the end table: the device, the
// lines of its error block and the advice below it, and its failure line.
void print_reasons(std::ostream& out, const std::vector<board_outcome>& boards);

// "Failed at: program block 164 of 322, sector 3, received 33 91",
// "Failed at: bring-up", "Stopped before: erase, sector 1", and on a line
// of its own where the bootstrap loader code lies now and the --bsl-now a
// next run needs ("the bootstrap code now lies only in sector 0: run again
// with --bsl-now 0"); empty for a board that succeeded.
std::string failure_line(const board_outcome& o);

// "the bootstrap code now lies only in sector 0: run again with --bsl-now 0"
std::string code_line(const core::code_location& code);

// A board as the ledger keeps it, at the fixture (the port's name as the
// operator gave it or the pattern matched it).
// A ledger's row as JSON, its fields by their columns' names.
QJsonObject row_json(const ledger_row& r);

ledger_row ledger_row_of(const std::string& fixture, const board_outcome& o, const run_description& d);

// The board written down: its row in the ledger, which keeps or gives back
// its number in the same transaction, or without a ledger its number kept
// or given back in the book. The reason when it could not be; empty when
// it was.
std::string keep_board(ledger* in, serial_book* book, const std::optional<serial_value>& number, const ledger_row& row);

}  // namespace fernwick::station
