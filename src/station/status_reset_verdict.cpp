#include "station/status_reset_verdict.h"

#include <ostream>

namespace fernwick::station {

using core::app_state;

cli_session::verdict status_verdict(const app_state& s)
{
    if (s.statusform.visible) return cli_session::verdict::succeeded;
    return s.mainform.program_.visible ? cli_session::verdict::running : cli_session::verdict::failed;
}

cli_session::verdict reset_verdict(const app_state& s)
{
    if (s.mainform.program_.visible) return cli_session::verdict::running;
    return s.reply_awaited ? cli_session::verdict::failed : cli_session::verdict::succeeded;
}

void print_sector_status(std::ostream& out, const app_state& s)
{
    for (int n = 0; n < 4; ++n) out << "Sector " << n << ": " << s.statusform.status_sector[n] << "\n";
}

}  // namespace fernwick::station
