#include "net/Endpoints.h"
#include "tests/support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <regex>

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

bool Matches(const std::string& text, const char* pattern)
{
    return std::regex_match(text, std::regex(pattern));
}

TEST(EndpointsTest, DefaultsHaveTheFormsTheServicesExpect)
{
    const Endpoints e;
    EXPECT_TRUE(Matches(e.dataAccount, "[a-z]{4}"));
    EXPECT_TRUE(Matches(e.dataToken, "[0-9a-f]{32}"));
    EXPECT_TRUE(Matches(e.accountAccessCode, "[0-9]{4}"));
    EXPECT_TRUE(Matches(e.smsUserId, "[0-9]{6}"));
    EXPECT_TRUE(Matches(e.smsAccount, "[a-z]{5}"));
    EXPECT_TRUE(Matches(e.smsPassword, "[A-Z0-9]{6}"));
    EXPECT_TRUE(Matches(e.staffMobile, "[0-9]{11}"));
    EXPECT_TRUE(Matches(e.configAccessCode, "[0-9]{7}"));
    EXPECT_TRUE(e.caFile.empty());
    EXPECT_EQ(DataServerBaseUrl(e),
              "http://127.0.0.1:18080/testone.php?user=" + e.dataAccount + "&pwd=" + e.dataToken);
    EXPECT_EQ(WebsiteUrl(e, "/velmora/version.html"),
              "http://127.0.0.1:18081/velmora/version.html");
    EXPECT_EQ(SmsGatewayUrl(e, "/GateWay/Services.asmx/DirectSend?UserID=1"),
              "http://127.0.0.1:18082/GateWay/Services.asmx/DirectSend?UserID=1");
}

TEST(EndpointsTest, DefaultPortsAreLeftOutAndIpv6LiteralsBracketed)
{
    const ServiceAddress plain{"http", "data.example", 80};
    EXPECT_EQ(plain.origin(), "http://data.example");
    EXPECT_EQ(plain.hostLine(), "data.example");
    EXPECT_EQ(plain.hostLine(true), "data.example:80"); // the gateway's line always has it

    const ServiceAddress secure{"https", "data.example", 443};
    EXPECT_EQ(secure.origin(), "https://data.example");
    EXPECT_EQ(ServiceAddress({"https", "data.example", 80}).origin(), "https://data.example:80");

    const ServiceAddress v6{"http", "::1", 8080};
    EXPECT_EQ(v6.origin(), "http://[::1]:8080");
    EXPECT_EQ(v6.hostLine(), "[::1]:8080");
}

TEST(EndpointsTest, FileOverridesTheDefaultsKeyByKey)
{
    TempDir dir;
    const fs::path file = dir / "velmora.ini";
    // Saved with a byte-order mark, as some editors do.
    WriteText(file, "\xEF\xBB\xBF[data_server]\n"
                    "scheme=https\nHOST=quotes.example\nport=8443\naccount=abcd\n"
                    "token=0123456789abcdef0123456789abcdef\n"
                    "[Website]\nhost=[2001:db8::1]\nport=80\naccess_code=1234\n"
                    "address=https://www.example/\n"
                    "[sms_gateway]\nhost=sms.example\nport=8080\nuser_id=123456\naccount=smsab\n"
                    "password=AB12CD\nstaff_mobile=13912345678\n"
                    "[program]\nconfig_access_code=1234567\nstale_quote_minutes=3\n"
                    "[tls]\nca_file=/etc/velmora/ca.pem\n"
                    "[update]\npublic_key=" +
                        std::string(32, 'A') + std::string(32, '0') + "\n");
    std::vector<std::string> problems;
    const Endpoints e = LoadEndpoints(file, &problems);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_EQ(e.updatePublicKey, std::string(32, 'a') + std::string(32, '0'));

    EXPECT_EQ(DataServerBaseUrl(e), "https://quotes.example:8443/testone.php?user=abcd"
                                    "&pwd=0123456789abcdef0123456789abcdef");
    EXPECT_EQ(WebsiteUrl(e, "/x"), "http://[2001:db8::1]/x");
    EXPECT_EQ(e.website.scheme, "http"); // not in the file: the default stays
    EXPECT_EQ(e.accountAccessCode, "1234");
    EXPECT_EQ(e.makerWebsite, "https://www.example/");
    EXPECT_EQ(e.smsGateway.hostLine(true), "sms.example:8080");
    EXPECT_EQ(e.smsUserId, "123456");
    EXPECT_EQ(e.smsAccount, "smsab");
    EXPECT_EQ(e.smsPassword, "AB12CD");
    EXPECT_EQ(e.staffMobile, "13912345678");
    EXPECT_EQ(e.configAccessCode, "1234567");
    EXPECT_EQ(e.staleQuoteMinutes, 3);
    EXPECT_EQ(e.caFile, "/etc/velmora/ca.pem");
}

TEST(EndpointsTest, MalformedValuesAreReportedAndKeepTheirDefaults)
{
    TempDir dir;
    const fs::path file = dir / "velmora.ini";
    WriteText(file, "[data_server]\naccount=a&b=c\ntoken=\nhots=data.example\n"
                    "[website]\naddress=www.example\n[sms_gateway]\nstaff_mobile=1 2\n"
                    "[update]\npublic_key=0123\n[program]\nstale_quote_minutes=0\n");
    std::vector<std::string> problems;
    const Endpoints e = LoadEndpoints(file, &problems);
    ASSERT_EQ(problems.size(), 7u);
    EXPECT_EQ(e.updatePublicKey, Endpoints{}.updatePublicKey);
    EXPECT_EQ(e.staleQuoteMinutes, 10);
    EXPECT_NE(problems[2].find("[data_server] hots"), std::string::npos) << problems[2];
    const Endpoints defaults;
    EXPECT_EQ(DataServerBaseUrl(e), DataServerBaseUrl(defaults));
    EXPECT_EQ(e.makerWebsite, defaults.makerWebsite);
    EXPECT_EQ(e.staffMobile, defaults.staffMobile);
}

// The loopback default in place of a mistyped address would get the configured account and
// token; the service is rather not used at all.
TEST(EndpointsTest, MalformedAddressDisablesItsServiceOnly)
{
    TempDir dir;
    const fs::path file = dir / "velmora.ini";
    WriteText(file, "[data_server]\nhost=quotes example\naccount=abcd\n"
                    "token=0123456789abcdef0123456789abcdef\n"
                    "[website]\nscheme=ftp\n[sms_gateway]\nhost=sms.example\nport=80x\n");
    std::vector<std::string> problems;
    const Endpoints e = LoadEndpoints(file, &problems);
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("nothing is sent to the data server"), std::string::npos)
        << problems[0];
    EXPECT_FALSE(e.dataServer.usable());
    EXPECT_FALSE(e.website.usable());
    EXPECT_FALSE(e.smsGateway.usable());
    EXPECT_EQ(DataServerBaseUrl(e), "");
    EXPECT_EQ(WebsiteUrl(e, "/velmora/version.html"), "");
    EXPECT_EQ(SmsGatewayUrl(e, "/GateWay/Services.asmx/DirectSend"), "");
    EXPECT_EQ(e.dataServer.origin(), "");

    // Each service stands alone.
    WriteText(file, "[website]\nport=0\n");
    const Endpoints websiteOnly = LoadEndpoints(file);
    EXPECT_FALSE(websiteOnly.website.usable());
    EXPECT_EQ(DataServerBaseUrl(websiteOnly), DataServerBaseUrl(Endpoints{}));
}

TEST(EndpointsTest, MissingFileMeansDefaultsAndACorruptOneIsReported)
{
    TempDir dir;
    std::vector<std::string> problems;
    const Endpoints missing = LoadEndpoints(dir / "none.ini", &problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(DataServerBaseUrl(missing), DataServerBaseUrl(Endpoints{}));

    WriteText(dir / "bad.ini", "port=1\n"); // a value outside any section
    const Endpoints corrupt = LoadEndpoints(dir / "bad.ini", &problems);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("bad.ini"), std::string::npos);
    EXPECT_EQ(corrupt.dataServer.port, 18080);

    problems.clear();
    EXPECT_TRUE(test::ReturnsDespiteFifo(dir / "fifo.ini",
                                         [&] { LoadEndpoints(dir / "fifo.ini", &problems); }));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("fifo.ini: cannot be read"), std::string::npos) << problems[0];
}

TEST(EndpointsTest, ConfigPathComesFromTheEnvironment)
{
    ScopedEnv home("HOME", "/home/trader");
    {
        ScopedEnv config("VELMORA_CONFIG", "/srv/velmora.ini");
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(DefaultEndpointsPath(), "/srv/velmora.ini");
    }
    ScopedEnv config("VELMORA_CONFIG", "");
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(DefaultEndpointsPath(), "/xdg/velmora/velmora.ini");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(DefaultEndpointsPath(), "/home/trader/.config/velmora/velmora.ini");
}

} // namespace
} // namespace velmora
