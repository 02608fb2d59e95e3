#include "app/AboutText.h"

#include "platform/RegistryKey.h"

#include <array>

namespace velmora {

std::string AboutHelpText()
{
    static constexpr std::array<std::string_view, 11> kLines{
        "\t\t帮助和快捷键说明\t\t\r\n\r\n",
        "\t商品分析图中半小时图显示数字为半小时：如01A表示一点整， 01B表示一点半\t\r\n",
        "\t商品分析图中日图显示数字为日期中的某一日：如01表示1号，05表示5号\t\r\n",
        "\t商品分析图中周图显示数字为日期中的某一周：如01表示1~7号那一周t\r\n",
        "\t商品分析图中月图显示数字为日期中某一月：如01表示一月，02表示二月\t\r\n",
        "\r\n",
        "\tF8:切换商品分析周期\t\r\n",
        "\t→:切换分析商品下一时间单元\t\r\n",
        "\t←:切换分析商品上一时间单元\t\r\n",
        "\t↑:切换上一商品分析\t\r\n",
        "\t↓:切换下一商品分析\t\r\n",
    };
    std::string text;
    for (std::string_view line : kLines)
        text += line;
    return text;
}

std::string InstalledVersion()
{
    CRegistryKey key(RegistryRoot::LocalMachine);
    key.Open(kRegistry.subKey);
    std::string version;
    key.ReadString(kRegistry.version, version);
    return version;
}

bool AccessCodeMatches(std::string_view typed, std::string_view accessCode)
{
    return typed == accessCode;
}

} // namespace velmora
