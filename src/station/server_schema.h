#pragma once
// The SQL of a ledger on a PostgreSQL server: its tables, its functions and
// the names it takes.

namespace fernwick::station::server_schema {

// The version of the tables and their meaning, as the file's ledger counts it.
inline constexpr int k_version = 4;
extern const char* const k_tables;
extern const char* const k_functions;
// The names, quoted and with commas, for "IN (...)".
extern const char* const k_names;
// A board's columns as ledger_row has them.
inline constexpr const char* k_row_columns =
    "time, host, fixture, port, adapter_serial, hex_file, hex_sha256, series, serial, result, step, sector, block, "
    "received, attempts, seconds, version, product, job_sha256, operator, lot, station";

}  // namespace fernwick::station::server_schema
