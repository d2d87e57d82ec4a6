#include "CommandDefinitions.h"
#include "CommandResourceScript.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

// The Windows build compiles a committed copy of the command resources; a change of the table
// that was not carried into it would give that program other menus, keys or prompts.
TEST(CommandResourcesTest, CommittedWindowsResourcesMatchTheCommandTable)
{
    std::ifstream file(VANDREL_COMMAND_RESOURCES, std::ios::binary);
    ASSERT_TRUE(file) << VANDREL_COMMAND_RESOURCES;
    std::ostringstream committed;
    committed << file.rdbuf();
    EXPECT_EQ(committed.str(), commandResourceScript())
        << "rewrite it: build/bin/vandrel-make-command-resources " << VANDREL_COMMAND_RESOURCES;
}

// What the resource compiler and the menus rely on: the shortcut label after a tab, each key of
// a command an accelerator, and description strings that the status bar and tooltips split.
TEST(CommandResourcesTest, ScriptCarriesLabelsKeysAndEscapedDescriptions)
{
    const std::string script = commandResourceScript();
    EXPECT_NE(script.find("MENUITEM \"新規(&N)\\tCtrl+N\", 57600\n"), std::string::npos);
    EXPECT_NE(script.find("MENUITEM \"終了(&X)\", 57665\n"), std::string::npos);
    EXPECT_NE(script.find("VK_INSERT, 57634, VIRTKEY, CONTROL, NOINVERT\n"), std::string::npos);
    EXPECT_NE(script.find("VK_SPACE, 32772, VIRTKEY, NOINVERT\n"), std::string::npos);
    EXPECT_NE(script.find("57665 \"終了\\n終了\"\n"), std::string::npos);
    // The settings command has neither a menu item nor a description string.
    EXPECT_EQ(script.find("32773"), std::string::npos);

    EXPECT_EQ(CommandDefinitions::toolBarImage(IdConnect), 3);
    EXPECT_EQ(CommandDefinitions::toolBarImage(IdAppAbout), 6);
    EXPECT_EQ(CommandDefinitions::toolBarImage(IdAppExit), -1);
}
