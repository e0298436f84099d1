// Which ledger a --ledger names: a PostgreSQL server's connection string, or a file.

#include <libpq-fe.h>

#include "station/file_ledger.h"
#include "station/job.h"
#include "station/server_ledger.h"

namespace fernwick::station {

bool is_server_ledger(const std::string& target)
{
    if (target.starts_with("postgresql://") || target.starts_with("postgres://")) return true;
    // libpq's "key=value ..." form: a first word that is one of libpq's
    // keywords, so that a file named "line=1.ledger" stays a file.
    const auto eq = target.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    auto key = target.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    while (!key.empty() && key.front() == ' ') key.erase(0, 1);
    PQconninfoOption* options = PQconndefaults();
    bool known = false;
    for (auto* o = options; o && o->keyword; ++o) known = known || key == o->keyword;
    PQconninfoFree(options);
    return known;
}

std::unique_ptr<ledger> ledger::open(const std::string& target, const ledger_options& options, std::string& why)
{
    // Every row carries it, and a server takes only UTF-8 text.
    if (const auto fault = options.host_name.empty() ? "" : record_name_fault(options.host_name); !fault.empty()) {
        why = "--host-name " + fault;
        return nullptr;
    }
    return is_server_ledger(target) ? server_ledger::open(target, options, why)
                                    : file_ledger::open(target, options, why);
}

std::unique_ptr<ledger> ledger::open_to_read(const std::string& target, std::string& why)
{
    return is_server_ledger(target) ? server_ledger::open_to_read(target, why) : file_ledger::open_to_read(target, why);
}

}  // namespace fernwick::station
