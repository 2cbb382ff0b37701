// The backends of the standard alerts, shared inside the session room.
#pragma once

#include "platform/Alerts.h"

#include <string>
#include <vector>

namespace orvik::alerts {

bool HasButton(const AlertRequest& request, int item);
// The items that have a button, in order.
std::vector<int> PresentItems(const AlertRequest& request);
std::string Trim(const std::string& text);
bool WriteAll(int fd, const std::string& text);

// Shows the request with the first dialog tool that can show it as asked;
// the item chosen, or 0 when no tool did.
int ShowGraphically(const AlertRequest& request);

} // namespace orvik::alerts
