// Any bytes as an event list's text form: a parse either fails and leaves the
// list empty, or takes every record, and then writing the list back gives the
// same bytes (all but the one to three bytes too few for a length that may
// follow the last record). Each event's text is its record less the stamp.
#include "events/vesper_event_list.h"
#include "harness.h"

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const std::string_view text = input.Rest();
  VesperEventList list;
  if (!list.fromString(text)) {
    Require(list.GetEventCount() == 0, "a failed parse leaves the list empty");
    return;
  }
  const std::string written = list.toString();
  Require(text.starts_with(written) && text.size() - written.size() < 4,
          "a parsed list writes back to its bytes");
  size_t at = 0;
  for (int32_t i = 1; i <= list.GetEventCount(); ++i) {
    const std::string event = list.GetEvent(i)->toString();
    Require(written.compare(at + 4, event.size(), event) == 0 && event.size() >= 16,
            "each event is its record");
    at += 4 + event.size();
  }
}
