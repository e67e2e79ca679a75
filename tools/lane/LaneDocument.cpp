#include "tools/lane/LaneDocument.h"

namespace paxelle::lane {

bool ElementText(std::string_view document, std::string_view name, std::string& text, std::size_t from) {
  const std::string open = "<" + std::string(name) + ">";
  const std::string close = "</" + std::string(name) + ">";
  const std::size_t start = document.find(open, from);
  if (start == std::string_view::npos) return false;
  const std::size_t valueStart = start + open.size();
  const std::size_t end = document.find(close, valueStart);
  if (end == std::string_view::npos) return false;
  text.assign(document.substr(valueStart, end - valueStart));
  return true;
}

Status ParseCommandResponse(std::string_view document, CommandResponse& response) {
  if (document.substr(0, 5) != "<?xml") return Status::Failure("response is not an XML document");
  std::string block;
  if (!ElementText(document, "CmdResponse", block)) {
    return Status::Failure("response document has no CmdResponse block");
  }
  CommandResponse parsed;
  const struct {
    std::string_view name;
    std::string* text;
  } elements[] = {{"ResponseOrigin", &parsed.responseOrigin},
                  {"OPXXReturnCode", &parsed.returnCodeText},
                  {"CmdStatus", &parsed.cmdStatus},
                  {"TextResponse", &parsed.textResponse},
                  {"UserTraceData", &parsed.userTraceData}};
  for (const auto& element : elements) {
    if (!ElementText(block, element.name, *element.text)) {
      return Status::Failure("CmdResponse lacks " + std::string(element.name));
    }
  }
  if (parsed.returnCodeText.size() != 6 ||
      parsed.returnCodeText.find_first_not_of("0123456789") != std::string::npos) {
    return Status::Failure("OPXXReturnCode is not six digits");
  }
  parsed.returnCode = std::stoi(parsed.returnCodeText);
  response = std::move(parsed);
  return Status::Ok();
}

bool IsQueuedReply(const CommandResponse& response) {
  constexpr std::string_view kPrefix = "Queued:";
  const std::string_view text = response.textResponse;
  if (response.returnCode != 0 || response.cmdStatus != "Success" || text.substr(0, kPrefix.size()) != kPrefix) {
    return false;
  }
  // "%03d" pads to three digits but does not cut a larger count.
  const auto isNumber = [](std::string_view part) {
    return part.size() >= 3 && part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  const std::string_view numbers = text.substr(kPrefix.size());
  const std::size_t colon = numbers.find(':');
  return colon != std::string_view::npos && isNumber(numbers.substr(0, colon)) &&
         isNumber(numbers.substr(colon + 1));
}

}  // namespace paxelle::lane
