#include "CommandResourceScript.h"

#include "CommandDefinitions.h"

#include <initializer_list>
#include <span>
#include <string_view>

namespace {

std::string toUtf8(std::u16string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

// A resource-script string literal: quotes doubled, line feeds and tabs as escapes.
std::string quoted(std::u16string_view text)
{
    std::string out = "\"";
    for (char c : toUtf8(text)) {
        if (c == '"')
            out += "\"\"";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\')
            out += "\\\\";
        else
            out.push_back(c);
    }
    return out + "\"";
}

std::string keyName(CommandKeyName key)
{
    switch (key) {
    case CommandKeyName::N:
        return "\"N\"";
    case CommandKeyName::O:
        return "\"O\"";
    case CommandKeyName::S:
        return "\"S\"";
    case CommandKeyName::C:
        return "\"C\"";
    case CommandKeyName::Insert:
        return "VK_INSERT";
    case CommandKeyName::Space:
        return "VK_SPACE";
    }
    return {};
}

void line(std::string &script, std::initializer_list<std::string_view> parts)
{
    for (std::string_view part : parts)
        script.append(part);
    script.push_back('\n');
}

} // namespace

std::string commandResourceScript()
{
    std::string script =
        "// Written from the command definitions; see CommandResourceScript.h.\n\n";

    script += "IDR_MAINFRAME MENU\nBEGIN\n";
    for (const MenuDefinition &menu : CommandDefinitions::menus()) {
        line(script, {"    POPUP ", quoted(menu.Title)});
        script += "    BEGIN\n";
        for (int id : menu.Items) {
            if (id == CommandDefinitions::Separator) {
                script += "        MENUITEM SEPARATOR\n";
                continue;
            }
            const CommandDefinition *command = CommandDefinitions::find(id);
            if (command == nullptr || command->MenuText.empty())
                continue;
            std::u16string text(command->MenuText);
            if (!command->Keys.empty()) {
                text += u'\t';
                text += CommandDefinitions::keyLabel(command->Keys.front());
            }
            line(script, {"        MENUITEM ", quoted(text), ", ", std::to_string(id)});
        }
        script += "    END\n";
    }
    script += "END\n\n";

    script += "IDR_MAINFRAME ACCELERATORS\nBEGIN\n";
    for (const CommandDefinition &command : CommandDefinitions::commands())
        for (const CommandKey &key : command.Keys)
            line(script,
                 {"    ", keyName(key.Key), ", ", std::to_string(command.Id), ", VIRTKEY",
                  key.Control ? ", CONTROL" : "", ", NOINVERT"});
    script += "END\n\n";

    // Type 241 is the toolbar resource: version 1, the button's picture size, the slot count,
    // then one command id per slot, 0 for a separator; all 16-bit. The resource compiler's own
    // TOOLBAR statement writes another layout, which no toolbar loader reads.
    const std::span<const int> slots = CommandDefinitions::toolBar();
    script += "IDR_MAINFRAME 241\nBEGIN\n";
    line(script, {"    1, 16, 15, ", std::to_string(slots.size()), ","});
    std::string ids;
    for (int slot : slots) {
        ids.append(ids.empty() ? "    " : ", ");
        ids.append(std::to_string(slot));
    }
    line(script, {ids});
    script += "END\n\n";

    script += "STRINGTABLE\nBEGIN\n";
    line(script, {"    IDR_MAINFRAME ", quoted(CommandDefinitions::TitleText)});
    line(script,
         {"    ", std::to_string(CommandDefinitions::ReadyTextId), " ",
          quoted(CommandDefinitions::ReadyText)});
    for (const CommandDefinition &command : CommandDefinitions::commands())
        if (!command.Description.empty())
            line(script, {"    ", std::to_string(command.Id), " ", quoted(command.Description)});
    script += "END\n";
    return script;
}
