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
    // Toolbar 128 in the layout toolbar loaders read, separators as 0. The settings command has
    // a button there and neither a menu item nor a description string.
    const std::size_t toolBar = script.find("IDR_MAINFRAME 241\nBEGIN\n    1, 16, 15, 11,\n"
                                            "    57600, 57601, 57603, 0, 32772, 0, 57634, 0, "
                                            "32773, 0, 57664\nEND\n");
    EXPECT_NE(toolBar, std::string::npos);
    EXPECT_EQ(script.find("32773"), script.rfind("32773"));

    EXPECT_EQ(CommandDefinitions::toolBarImage(IdConnect), 3);
    EXPECT_EQ(CommandDefinitions::toolBarImage(IdAppAbout), 6);
    EXPECT_EQ(CommandDefinitions::toolBarImage(IdAppExit), -1);
}
