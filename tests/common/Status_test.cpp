#include "common/Status.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

TEST(StatusTest, CarriesWhatTheFailureSaid) {
  struct Case {
    Status status;
    bool ok;
    int code;
    const char* message;
  };
  const Case cases[] = {
      {Status::Ok(), true, 0, ""},
      {Status::Failure("Could not Open Com Port 3."), false, 0, "Could not Open Com Port 3."},
      {Status::Failure("Socket Error Sending 3003", 3003), false, 3003, "Socket Error Sending 3003"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.status.ok(), c.ok) << c.message;
    EXPECT_EQ(c.status.code(), c.code) << c.message;
    EXPECT_EQ(c.status.message(), c.message);
  }
}

}  // namespace
}  // namespace paxelle
