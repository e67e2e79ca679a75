// The readable report of the EMV parameters a lane downloaded, one file per
// merchant and terminal under "PARAM_LOADS" in the working directory.
#include "common/Clock.h"
#include "common/PosixFile.h"
#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"
#include "core/Request.h"
#include "core/ServerContext.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

namespace paxelle {
namespace {

constexpr const char* kReportDirectory = "PARAM_LOADS";
constexpr std::size_t kReportWidth = 40;
constexpr std::size_t kModulusPiece = 16;

struct Scheme {
  const char* rid;
  const char* heading;
};

constexpr Scheme kSchemes[] = {
    {"A000000003", "CARD ASSOCIATION: VISA"},
    {"A000000004", "CARD ASSOCIATION: MASTERCARD"},
    {"A000000025", "CARD ASSOCIATION: AMERICAN EXPRESS"},
    {"A000000152", "CARD ASSOCIATION: DISCOVER"},
};

void AddLine(std::string& report, std::string_view line) {
  report += line;
  report += "\r\n";
}

// Half the spare room in front, blanks up to the full width, nothing beyond it.
std::string Centred(std::string_view text) {
  std::string line;
  if (text.size() < kReportWidth) line.assign((kReportWidth - text.size()) / 2, ' ');
  line += text;
  line.resize(kReportWidth, ' ');
  return line;
}

void AddKey(std::string& report, const CaPublicKey& key) {
  const std::string_view modulus = key.Modulus;
  AddLine(report, "RID: " + key.RID);
  AddLine(report, "KEY INDEX: " + key.Index);
  AddLine(report, "KEY MODULUS");
  AddLine(report, modulus.substr(0, kModulusPiece));
  AddLine(report, modulus.substr(std::min(modulus.size(), kModulusPiece), kModulusPiece));
  AddLine(report, "---");
  AddLine(report, modulus.substr(modulus.size() - std::min(modulus.size(), kModulusPiece)));
  AddLine(report, "KEY EXPONENT: " + key.Exponent);
}

void AddApplication(std::string& report, const AidParams& params) {
  AddLine(report, "Terminal Capabilities: " + params.TerminalCapabilities);
  AddLine(report, "Additional Capabilities: " + params.AdditionalCapabilities);
  AddLine(report, "Threshold Value RS: " + params.RSThreshold);
  AddLine(report, "Target Percent RS: " + params.TargetRSPercent);
  AddLine(report, "Maximum Target Percent RS: " + params.MaxTargetRSPercent);
  AddLine(report, "Default DDOL: " + params.DefaultDDOL);
  AddLine(report, "Default TDOL: " + params.DefaultTDOL);
  AddLine(report, "Application ID: " + params.AidList);
  AddLine(report, "Chip Offline Floor Limit: " + params.FloorLimit);
  AddLine(report, "Fallback Indicator: " + params.FallBackIndicator);
  AddLine(report, "TAC Denial: " + params.TACDenial);
  AddLine(report, "TAC Online: " + params.TACOnline);
  AddLine(report, "TAC Default: " + params.TACDefault);
  AddLine(report, "Ctls Terminal Capabilities: " + params.CtlsTerminalCapabilities);
  AddLine(report, "Ctls Additional Capabilities: " + params.CtlsAdditionalCapabilities);
  AddLine(report, "Ctls Application ID: " + params.CtlsAidList);
  AddLine(report, "Ctls Chip Offline Floor Limit: " + params.CtlsFloorLimit);
  AddLine(report, "CtlsTranLimit: " + params.CtlsTranLimit);
  AddLine(report, "CtlsCVMLimit: " + params.CtlsCVMLimit);
  AddLine(report, "Ctls TAC Denial: " + params.CtlsTACDenial);
  AddLine(report, "Ctls TAC Online: " + params.CtlsTACOnline);
  AddLine(report, "Ctls TAC Default: " + params.CtlsTACDefault);
  AddLine(report, "");
}

std::string ReportText(const CRequest& record, const std::string& merchantId, const std::string& terminalId,
                       std::time_t now) {
  std::string report;
  AddLine(report, Centred("EMV PARAMETERS"));
  AddLine(report, "MERCHANT ID: " + merchantId);
  AddLine(report, "TERM ID: " + terminalId);
  AddLine(report, "DATE: " + FormatLocalTime("%m/%d/%Y", now) + "  TIME: " + FormatLocalTime("%H:%M:%S", now));

  for (const Scheme& scheme : kSchemes) {
    AddLine(report, Centred(scheme.heading));
    for (const CaPublicKey& key : record.CaPublicKeys) {
      if (key.RID == scheme.rid) AddKey(report, key);
    }
    AidParams application;
    for (const AidParams& params : record.EmvAidParams) {
      if (params.RID == scheme.rid) {
        application = params;
        break;
      }
    }
    AddApplication(report, application);
  }
  return report;
}

// Creates the report directory when it is missing. A file of that name counts
// as a failure: nothing could be written below it.
bool EnsureReportDirectory(const std::string& directory, CTrafficLog& log) {
  if (::mkdir(directory.c_str(), 0777) == 0) return true;
  int error = errno;
  if (error == EEXIST) {
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return true;
    error = ENOTDIR;
  }
  log.Log("error at CreateDirectory: %d(%s)\n", error, SystemErrorText(error).c_str());
  return false;
}

}  // namespace

void CRequest::WriteEmvReport(CServerContext& context) {
  const CMerchantParams params = context.params.GetParams();
  const std::string merchantId = params.GetValue(kParamMerchantId);
  const std::string terminalId = params.GetValue(kParamTerminalId);
  const std::string text = ReportText(*this, merchantId, terminalId, SystemNow());

  const std::string directory = context.PathOf(kReportDirectory).string();
  if (!EnsureReportDirectory(directory, context.log)) return;
  const std::string path = directory + "/EMVParam_" + merchantId + "_" + terminalId + ".log";
  // Every lane of a merchant downloads into the same file: replacing it whole
  // means a reader never sees two downloads mixed.
  const ReplaceResult written = ReplaceFileAtomically(path, text, 0644);
  if (!written.Ok()) {
    context.log.Log("error writing %s: %d(%s)\n", path.c_str(), written.systemError,
        SystemErrorText(written.systemError).c_str());
  }
}

}  // namespace paxelle
