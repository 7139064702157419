// Request decoding and reply encoding: exact documents, the failure codes,
// and hostile input.
#include "ipc/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/utf.h"

namespace hv {
namespace {

std::string Request(const std::string& param_count, const std::string& param_1) {
  return "{\"root\":{\"request\":{\"param_count\":" + param_count + ",\"param_1\":" + param_1 + "}}}";
}

// A successful reply as StyledWriter lays it out, around the result
// members' lines (each indented by nine blanks, without line ends).
std::string SuccessReply(const std::vector<std::string>& result_members) {
  std::string text =
      "{\n"
      "   \"root\" : {\n"
      "      \"error\" : {\n"
      "         \"error_code\" : \"0\",\n"
      "         \"error_msg\" : \"\"\n"
      "      },\n"
      "      \"result\" : {\n";
  for (size_t i = 0; i < result_members.size(); ++i) {
    text += "         " + result_members[i] + (i + 1 < result_members.size() ? ",\n" : "\n");
  }
  return text + "      }\n   }\n}\n";
}

TEST(ReplyText, SetVerifyOptReplyIsByteExact) {
  std::string text;
  ASSERT_EQ(EncodeReply(IpcError{}, NullResult{}, &text), 0);
  EXPECT_EQ(text, SuccessReply({"\"NullValue\" : \"0\""}));
}

TEST(ReplyText, StartVerifyReplyCarriesUtf8AndAnUnsignedType) {
  std::string text;
  VerifyResult result{VERIFY_RESULT_OK, HV_W("r\u00e9sultat \u4e2d")};
  ASSERT_EQ(EncodeReply(IpcError{}, result, &text), 0);
  // StyledWriter escapes what is not ASCII; the text stays UTF-8 JSON.
  EXPECT_EQ(text, SuccessReply({"\"ResultType\" : \"1\"",
                                "\"ResultValue\" : \"r\\u00e9sultat \\u4e2d\""}));
}

TEST(ReplyText, FailureReplyHasOnlyTheSignedErrorBlock) {
  std::string text;
  ASSERT_EQ(EncodeReply(IpcError{VEX_E_ARCHIVE_NO_NODE, ""}, VerifyResult{}, &text), 0);
  EXPECT_EQ(text,
            "{\n"
            "   \"root\" : {\n"
            "      \"error\" : {\n"
            "         \"error_code\" : \"-536412123\",\n"
            "         \"error_msg\" : \"\"\n"
            "      }\n"
            "   }\n"
            "}\n");
}

TEST(DecodeRequest, EveryFailureRowGivesItsCode) {
  struct Case { std::string text; int32_t code; } cases[] = {
      {"not json", VEX_E_ARCHIVE_PARSE},
      {"", VEX_E_ARCHIVE_PARSE},
      {"[1,2]", VEX_E_ARCHIVE_NO_ROOT},
      {"{}", VEX_E_ARCHIVE_NO_ROOT},
      {"\"text\"", VEX_E_ARCHIVE_NO_ROOT},
      {"{\"root\":{}}", VEX_E_ARCHIVE_NO_NODE},
      {"{\"root\":{\"request\":[]}}", VEX_E_ARCHIVE_NO_NODE},
      {"{\"root\":{\"request\":{\"param_1\":{}}}}", VEX_E_ARCHIVE_NO_NODE},
      {Request("1", "{\"OptMode\":\"1\",\"Value\":\"5\"}"), VEX_E_ARCHIVE_NOT_STRING},
      {Request("\"x1\"", "{\"OptMode\":\"1\",\"Value\":\"5\"}"), VEX_E_ARCHIVE_CONVERT},
      {Request("\"1\"", "\"flat\""), VEX_E_ARCHIVE_NO_NODE},
      {Request("\"1\"", "{\"Value\":\"5\"}"), VEX_E_ARCHIVE_NO_NODE},
      {Request("\"1\"", "{\"OptMode\":1,\"Value\":\"5\"}"), VEX_E_ARCHIVE_NOT_STRING},
      {Request("\"1\"", "{\"OptMode\":\"one\",\"Value\":\"5\"}"), VEX_E_ARCHIVE_CONVERT},
      {Request("\"1\"", "{\"OptMode\":\"1\",\"Value\":null}"), VEX_E_ARCHIVE_NOT_STRING},
      {Request("\"1\"", "{\"OptMode\":\"1\",\"Value\":\"5\"}"), 0},
  };
  for (const auto& c : cases) {
    IpcRequest<VerifyOption> request;
    EXPECT_EQ(DecodeRequest(c.text.c_str(), &request), c.code) << c.text;
  }
}

TEST(DecodeRequest, FieldValuesAndLenientRules) {
  IpcRequest<VerifyOption> option;
  // Comments, another base name, extra members and a signed count are fine.
  std::string text = "// from the host\n{\"zeta\":{},\"alpha\":{\"request\":{\"param_count\":\"-3\","
                     "\"param_1\":{\"OptMode\":\"-1\",\"Value\":\"60\"},\"param_2\":{}}}}";
  ASSERT_EQ(DecodeRequest(text.c_str(), &option), 0);
  EXPECT_EQ(option.param_count, -3);
  EXPECT_EQ(option.param_1.OptMode, 4294967295u);
  EXPECT_EQ(option.param_1.Value, HV_W("60"));

  IpcRequest<VerifyRequest> verify;
  text = Request("\"1\"", "{\"User\":\"J\xC3\xBCrgen\\u0000tail\",\"Password\":\"\"}");
  ASSERT_EQ(DecodeRequest(text.c_str(), &verify), 0);
  EXPECT_EQ(verify.param_1.User, HV_W("J\u00fcrgen"));
  EXPECT_EQ(verify.param_1.Password, HV_W(""));
}

TEST(DecodeRequest, HostileInputFailsCleanly) {
  IpcRequest<VerifyRequest> request;
  std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(DecodeRequest(deep.c_str(), &request), VEX_E_ARCHIVE_PARSE);
  std::string nested = "{\"root\":" + std::string(5000, '[') + std::string(5000, ']') + "}";
  EXPECT_EQ(DecodeRequest(nested.c_str(), &request), VEX_E_ARCHIVE_PARSE);

  std::string big(1 << 20, 'x');
  std::string text = Request("\"1\"", "{\"User\":\"" + big + "\",\"Password\":\"pw\"}");
  ASSERT_EQ(DecodeRequest(text.c_str(), &request), 0);
  EXPECT_EQ(request.param_1.User.size(), big.size());

  text = Request("\"1\"", "{\"User\":\"\xFF\xC3(\",\"Password\":\"pw\"}");
  ASSERT_EQ(DecodeRequest(text.c_str(), &request), 0);
  EXPECT_EQ(request.param_1.User, HV_W("\uFFFD\uFFFD("));
  EXPECT_EQ(DecodeRequest(nullptr, &request), VEX_E_ARCHIVE_PARSE);
}

TEST(JsonArchiveNumbers, StreamExtractionRules) {
  struct Case { const char* text; int32_t rc; int64_t value; bool is_unsigned; } cases[] = {
      {"12abc", 0, 12, false},          {" 7", 0, 7, false},
      {"", VEX_E_ARCHIVE_CONVERT, 0, false}, {"abc", VEX_E_ARCHIVE_CONVERT, 0, false},
      {"2147483648", VEX_E_ARCHIVE_CONVERT, 0, false},
      {"-2147483648", 0, -2147483648LL, false},
      {"-1", 0, 4294967295LL, true},    {"4294967296", VEX_E_ARCHIVE_CONVERT, 0, true},
  };
  for (const auto& c : cases) {
    JsonArchive a;
    std::string doc = std::string("{\"r\":{\"n\":\"") + c.text + "\"}}";
    ASSERT_EQ(a.OpenForRead(doc.c_str()), 0);
    a.EnterMember("n", kArchiveRead);
    int64_t got = 0;
    if (c.is_unsigned) {
      uint32_t v = 0;
      EXPECT_EQ(a.ReadUInt32(&v), c.rc) << c.text;
      got = v;
    } else {
      int32_t v = 0;
      EXPECT_EQ(a.ReadInt32(&v), c.rc) << c.text;
      got = v;
    }
    if (c.rc == 0) {
      EXPECT_EQ(got, c.value) << c.text;
    }
  }
}

TEST(JsonArchiveSteps, NoFrameAndWriteCreatesMembers) {
  JsonArchive a;
  int32_t v = 0;
  EXPECT_EQ(a.ReadInt32(&v), VEX_E_ARCHIVE_NO_FRAME);
  ASSERT_EQ(a.OpenForWrite(), 0);
  {
    ArchivePathScope scope(a, "x/y", kArchiveWrite);
    EXPECT_EQ(a.WriteInt32(-536412127), 0);
  }
  EXPECT_NE(a.Render().find("\"y\" : \"-536412127\""), std::string::npos);
}

}  // namespace
}  // namespace hv
