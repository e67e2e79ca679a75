// The content of the EMV parameter download answer, between the identity lines
// and the closing line of its administrative body.
#pragma once

#include "core/Request.h"

#include <string>

namespace paxelle {

class CServerContext;

// Appends the parameter lists and trailing lines of the EMVParamDownload body
// to `body`; may fill the record's parameter lists on the way.
// Writes the EMV report under the context's working directory.
void AppendEmvParamDownloadContent(CRequest& record, std::string& body, CServerContext& context);

}  // namespace paxelle
