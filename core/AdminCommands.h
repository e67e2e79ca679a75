// The administrative commands the server answers by itself, on the lane's own
// connection and without the host: server version, payment types, and the
// scheme parameters an offline-declined chip sale needs.
#pragma once

#include "core/Request.h"

#include <string>

namespace paxelle {

class CServerContext;
class IRequestCrypto;

// Each builder returns the finished wire answer (also stored in WireResponse):
// the document encrypted with the record's session key and framed with type
// "2". When it cannot be encrypted (or no crypto is installed) the record gets
// Disposition 2 and ReturnCode 4020, and the answer is the 4020 error document
// framed in clear with type "0".

// "ServerVersion": product name, class, provider and version.
std::string BuildServerVersion(CRequest& record, IRequestCrypto* crypto);

// "GetPaxelleParms": the payment types the lane's chip reader may offer, from
// merchant parameter 19 ("EMV SUPPORT").
std::string BuildPaymentTypes(CRequest& record, const CServerContext& context);

// "EMVOfflineDeclinedSale": the application parameters of the scheme whose RID
// begins the record's EMVAppID; no element lines for a scheme not carried.
std::string BuildOfflineDecline(CRequest& record, IRequestCrypto* crypto);

}  // namespace paxelle
