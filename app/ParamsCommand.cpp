#include "app/ParamsCommand.h"

#include "common/TextHelpers.h"

#include <algorithm>
#include <cstdio>

namespace paxelle {
namespace {

constexpr const char* kHiddenPassword = "********";

const char* StateName(ConfigurationState state) {
  switch (state) {
    case ConfigurationState::ParamsNotSet: return "ParamsNotSet";
    case ConfigurationState::ParamsReady: return "ParamsReady";
    case ConfigurationState::ParamsUnreadable: return "ParamsUnreadable";
    case ConfigurationState::ParamsInvalid: return "ParamsInvalid";
  }
  return "ParamsUnreadable";
}

// Quoted, with control and non-ASCII bytes written as \xNN so that a refused
// value cannot garble the terminal.
std::string Quote(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      quoted += escaped;
    } else {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
  }
  return quoted + "\"";
}

// "15 digits", "1 to 2 digits", "at most 12 ...".
std::string CountText(int minLength, int maxLength, const std::string& singular,
                      const std::string& plural) {
  if (minLength == maxLength) {
    return std::to_string(maxLength) + " " + (maxLength == 1 ? singular : plural);
  }
  if (minLength <= 0) return "at most " + std::to_string(maxLength) + " " + plural;
  return std::to_string(minLength) + " to " + std::to_string(maxLength) + " " + plural;
}

std::string EntryLabel(int number, const CParamEntry& entry) {
  return "entry " + std::to_string(number) + " (" + entry.name + ")";
}

int Refuse(const std::vector<std::string>& reasons, std::ostream& err) {
  for (const std::string& reason : reasons) err << "params: " << reason << "\n";
  err << "params: nothing stored\n";
  return kParamsExitRefused;
}

int Store(CParamStore& store, const CMerchantParams& set, std::ostream& out, std::ostream& err) {
  if (!store.Save(set)) {
    err << "params: " << store.LastErrorText() << " (" << store.LastErrorCode() << ")\n";
    return kParamsExitFailed;
  }
  out << "Parameters stored in " << store.Path().string() << "\n";
  return kParamsExitOk;
}

// Loads the stored line; false (with the reason on `err`) when it could not be
// read, so that nothing is shown or stored on top of a set we do not know.
bool LoadStore(CParamStore& store, std::ostream& err) {
  const bool loaded = store.Load();
  const std::string notice = store.LoadNotice();
  if (!notice.empty()) err << "params: " << notice << "\n";
  return loaded;
}

// Reads only: showing the parameters must never create, move or rewrite a file.
int Show(const CParamStore& store, std::ostream& out, std::ostream& err) {
  CMerchantParams set;
  const Status read = store.ReadStored(set);
  const StoredLine stored = read.ok() ? StoredLine::kRead : static_cast<StoredLine>(read.code());
  if (stored == StoredLine::kUnreadable || stored == StoredLine::kFailed) {
    err << "params: " << store.Path().string() << ": " << read.message() << "\n";
    return stored == StoredLine::kFailed ? kParamsExitFailed : kParamsExitRefused;
  }
  for (const auto& [number, entry] : set.Entries()) {
    const bool hide = number == kParamPassword && !entry.value.empty();
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d ", number);
    const bool refused = std::find(set.RefusedEntries().begin(), set.RefusedEntries().end(), number) !=
                         set.RefusedEntries().end();
    out << prefix << entry.name << " = " << (hide ? kHiddenPassword : entry.value)
        << (refused ? "   <- INVALID in the file (its check failed; the default is shown)" : "") << "\n";
  }
  out << "Configuration: " << StateName(ConfigurationStateOf(set)) << "\n";
  out << "File: " << store.Path().string() << (stored == StoredLine::kRead ? "" : " (not stored)") << "\n";
  return kParamsExitOk;
}

int Set(const std::vector<std::string>& assignments, CParamStore& store, std::ostream& out,
        std::ostream& err) {
  if (!LoadStore(store, err)) return kParamsExitFailed;
  CMerchantParams set = store.GetParams();
  std::vector<std::string> reasons;
  // Storing the set would write the defaults over an identifying entry the file
  // holds but that failed its check: it has to be given anew in the same command.
  std::vector<int> mustBeGiven;
  for (const int number : set.RefusedEntries()) {
    if (IsIdentityEntry(number)) mustBeGiven.push_back(number);
  }
  for (std::size_t i = 0; i < assignments.size(); ++i) {
    const std::string& assignment = assignments[i];
    const auto equals = assignment.find('=');
    // The argument itself is not echoed: it may be a mistyped password.
    if (equals == std::string::npos) {
      reasons.push_back("argument " + std::to_string(i + 1) + " is not of the form N=VALUE");
      continue;
    }
    const std::string numberText = assignment.substr(0, equals);
    const std::string value = assignment.substr(equals + 1);
    const auto found = numberText.empty() || numberText.size() > 2 || !AllDigits(numberText)
                           ? set.Entries().end()
                           : set.Entries().find(LeadingInt(numberText));
    if (found == set.Entries().end()) {
      reasons.push_back("entry " + Quote(numberText) + ": there is no such entry (entries are 0 to " +
                        std::to_string(kParamLaneIds) + ")");
      continue;
    }
    const auto& [number, entry] = *found;
    if (value.find(';') != std::string::npos) {
      reasons.push_back(EntryLabel(number, entry) +
                        ": a value must not contain \";\", which separates the stored values");
      continue;
    }
    const CParamEntry before = entry;  // `entry` is replaced by a successful SetValue
    if (!set.SetValue(number, value)) {
      reasons.push_back(EntryLabel(number, before) + ": " +
                        DescribeRefusal(before.spec, value, number == kParamPassword));
    }
    std::erase(mustBeGiven, number);
  }
  for (const int number : mustBeGiven) {
    reasons.push_back(EntryLabel(number, set.Entries().at(number)) +
                      ": the stored value failed its check; give the entry a value in the same command");
  }
  if (!reasons.empty()) return Refuse(reasons, err);
  return Store(store, set, out, err);
}

int SetLine(const std::string& line, CParamStore& store, std::ostream& out, std::ostream& err) {
  const std::vector<std::string> fields = SplitParamLine(line);
  CMerchantParams set;
  const std::string version = fields.empty() ? std::string() : fields[0];
  if (version != set.Version()) {
    return Refuse({"the line's format version is " + Quote(version) + ", not " + Quote(set.Version())},
                  err);
  }
  std::vector<std::string> reasons;
  const std::size_t expected = set.Entries().size();
  const std::size_t given = fields.size() - 1;
  if (given != expected) {
    reasons.push_back("the line holds " + std::to_string(given) + " values; it must hold " +
                      std::to_string(expected) + " (entries 0 to " + std::to_string(kParamLaneIds) +
                      "), each followed by \";\"");
  }
  for (std::size_t i = 0; i < given && i < expected; ++i) {
    const int number = static_cast<int>(i);
    const CParamEntry entry = set.Entries().at(number);
    if (!set.SetValue(number, fields[i + 1])) {
      reasons.push_back(EntryLabel(number, entry) + ": " +
                        DescribeRefusal(entry.spec, fields[i + 1], number == kParamPassword));
    }
  }
  if (!reasons.empty()) return Refuse(reasons, err);
  return Store(store, set, out, err);
}

int Reset(CParamStore& store, std::ostream& out, std::ostream& err) {
  if (!store.ResetToDefaults()) {
    err << "params: " << store.LastErrorText() << " (" << store.LastErrorCode() << ")\n";
    return kParamsExitFailed;
  }
  out << "Defaults stored in " << store.Path().string() << "\n";
  return kParamsExitOk;
}

int Usage(std::ostream& err) {
  err << ParamsUsage();
  return kParamsExitRefused;
}

}  // namespace

std::vector<std::string> ParamsSynopses() {
  return {"paxelle params show [--params FILE]", "paxelle params set N=VALUE... [--params FILE]",
          "paxelle params set-line LINE [--params FILE]", "paxelle params reset [--params FILE]"};
}

std::string ParamsUsage() {
  std::string usage;
  for (const std::string& synopsis : ParamsSynopses()) {
    usage += (usage.empty() ? "Usage: " : "  or:  ") + synopsis + "\n";
  }
  return usage;
}

std::string DescribeRefusal(const CParamSpec& spec, const std::string& value, bool hideValue) {
  const std::string subject = hideValue ? std::string("the value") : Quote(value);
  const int low = spec.MinLength();
  const int high = spec.MaxLength();
  const std::string& type = spec.Type();
  if (type == "NS1") return subject + " is not " + CountText(low, high, "digit", "digits");
  if (type == "YN1") return subject + " is not \"Y\" or \"N\" (upper case)";
  if (type == "AN1") {
    return subject + " is not " + CountText(low, high, "letter or digit", "letters or digits") +
           " (A-Z, a-z, 0-9)";
  }
  if (type == "AN2") {
    return subject + " is not " +
           CountText(low, high, "printable ASCII character", "printable ASCII characters") +
           " (blank to 0x7F; no tab or other control byte, nothing above 0x7F)";
  }
  return subject + " cannot pass the unknown type " + Quote(type);
}

int RunParamsCommand(const std::vector<std::string>& args, CParamStore& store, std::ostream& out,
                     std::ostream& err) {
  if (args.empty()) return Usage(err);
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "show" && rest.empty()) return Show(store, out, err);
  if (command == "set" && !rest.empty()) return Set(rest, store, out, err);
  if (command == "set-line" && rest.size() == 1) return SetLine(rest[0], store, out, err);
  if (command == "reset" && rest.empty()) return Reset(store, out, err);
  return Usage(err);
}

}  // namespace paxelle
