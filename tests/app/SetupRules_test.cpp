#include "app/SetupRules.h"

#include <gtest/gtest.h>

// A full stop unless the last character's code is at most that of "." (punctuation, a
// blank, a line end); a letter above 127 is a letter, not a control character.
TEST(ExceptionMessageText, AFullStopUnlessTheTextEndsInPunctuationOrIsEmpty) {
    for (const auto& [text, shown] : {std::pair{"", ""},
                                      {"Disk full", "Disk full."},
                                      {"Done.", "Done."},
                                      {"Oops!", "Oops!"},
                                      {"(see log)", "(see log)"},
                                      {"a-", "a-"},
                                      {"line\r\n", "line\r\n"},
                                      {"blank ", "blank "},
                                      {"Why?", "Why?."},
                                      {"C:/", "C:/."},
                                      {"C:\\", "C:\\."},
                                      {"3", "3."},
                                      {"Gr\xFC\xDF", "Gr\xFC\xDF."}})
        EXPECT_EQ(ExceptionMessageText(text), shown) << text;
}

TEST(IsAbsoluteFolderPath, OnlyDriveAndSharePathsAreAbsolute) {
    for (const char* path : {"C:\\", "c:\\Program Files\\Orvand\\", "Z:/apps/", "\\\\server\\share\\", "//host/x/"})
        EXPECT_TRUE(IsAbsoluteFolderPath(path)) << path;
    for (const char* path :
         {"", "\\", "Orvand\\", "C:", "C:Orvand\\", "1:\\", "\\Apps\\", "\\\\server\\", "\\\\\\x\\y", "\\\\server\\\\"})
        EXPECT_FALSE(IsAbsoluteFolderPath(path)) << path;
}

TEST(ListPrerequisites, AgentWhenMissingThenTheTickedComponentsInFixedOrder) {
    using V = std::vector<std::string>;
    auto listed = [](const TComponentChoice& Choice) {
        V names;
        for (const TPrerequisite& p :
             ListPrerequisites(Choice, [](const std::string& Name) { return Name == "tv_enua.exe"; }))
            names.push_back(p.InstallerName + (p.InPackage ? " (packaged)" : ""));
        return names;
    };
    EXPECT_EQ(listed({false, true, true, true}),
              (V{"MSagent.exe", "spchapi.exe", "tv_enua.exe (packaged)", "lhttseng.exe"}));
    EXPECT_EQ(listed({true, false, false, false}), V{});
    EXPECT_EQ(listed({true, false, false, true}), V{"lhttseng.exe"});
}

TEST(ParseCommandLine, TheInteractiveModesGoByTheFirstArgumentAlone) {
    using V = std::vector<std::string>;
    for (const V& arguments : {V{}, V{"extra"}, V{"-Remove"}, V{"-REMOVE"}, V{"-remove "}, V{"extra", "-remove"},
                               V{"extra", "-silent"}, V{"-SILENT"}, V{"-silent "}, V{"extra", "-remove", "-silent"}})
        EXPECT_EQ(ParseCommandLine(arguments).Mode, TRunMode::Wizard) << arguments.size();
    for (const V& arguments : {V{"-remove"}, V{"-uninstall"}, V{"-remove", "extra"}, V{"-remove", "extra", "-silent"},
                               V{"-uninstall", "extra", "-silent"}, V{"-remove", "-Silent"}})
        EXPECT_EQ(ParseCommandLine(arguments).Mode, TRunMode::Uninstall) << arguments.size();
}

TEST(ParseCommandLine, SilentModesTakeAFolderAndALogOnce) {
    TCommandLine c = ParseCommandLine({"-silent"});
    EXPECT_EQ(c.Mode, TRunMode::SilentInstall);
    EXPECT_EQ(c.Folder, "");
    EXPECT_EQ(c.LogFile, "");
    c = ParseCommandLine({"-silent", "-log=C:\\logs\\setup log.txt", "-dir=D:\\Apps\\Orvand"});
    EXPECT_EQ(c.Mode, TRunMode::SilentInstall);
    EXPECT_EQ(c.Folder, "D:\\Apps\\Orvand");
    EXPECT_EQ(c.LogFile, "C:\\logs\\setup log.txt");
    EXPECT_EQ(ParseCommandLine({"-silent", "-dir=\\\\server\\share\\Orvand\\"}).Folder, "\\\\server\\share\\Orvand\\");
    for (const char* remove : {"-remove", "-uninstall"}) {
        c = ParseCommandLine({remove, "-silent", "-log=out.log"});
        EXPECT_EQ(c.Mode, TRunMode::SilentRemove) << remove;
        EXPECT_EQ(c.LogFile, "out.log");
    }
    EXPECT_EQ(ParseCommandLine({"-remove", "-silent"}).Mode, TRunMode::SilentRemove);
    // For every user: asked for (the wizard by its first argument), or a silent install as LocalSystem.
    c = ParseCommandLine({"-silent", "-dir=D:\\Orvand", "-allusers"});
    EXPECT_EQ(c.Mode, TRunMode::SilentInstall);
    EXPECT_TRUE(InstallsForAllUsers(c, false));
    EXPECT_FALSE(InstallsForAllUsers(ParseCommandLine({"-silent"}), false));
    EXPECT_TRUE(InstallsForAllUsers(ParseCommandLine({"-allusers", "extra"}), false));
    EXPECT_FALSE(InstallsForAllUsers(ParseCommandLine({"extra", "-allusers"}), true));
}

TEST(ParseCommandLine, ASilentRunRefusesWhatItCannotHonourAndSaysWhy) {
    struct Case {
        std::vector<std::string> Arguments;
        const char* Error;
    };
    const Case cases[] = {
        {{"-silent", "-dir=Orvand"}, "-dir needs a full path such as C:\\Program Files\\Orvand, not \"Orvand\"."},
        {{"-silent", "-dir="}, "-dir needs a full path such as C:\\Program Files\\Orvand, not \"\"."},
        {{"-silent", "-dir=C:Orvand"}, "-dir needs a full path such as C:\\Program Files\\Orvand, not \"C:Orvand\"."},
        {{"-silent", "-dir=C:\\a", "-dir=C:\\b"}, "-dir is given twice."},
        {{"-silent", "-log=a", "-log=b"}, "-log is given twice."},
        {{"-silent", "-log="}, "-log needs a file name."},
        {{"-silent", "-reboot"}, "Unknown argument \"-reboot\"."},
        {{"-silent", "-silent"}, "Unknown argument \"-silent\"."},
        {{"-silent", "-DIR=C:\\a"}, "Unknown argument \"-DIR=C:\\a\"."},
        // Removal takes its folder from where the uninstaller lies.
        {{"-remove", "-silent", "-dir=C:\\a"}, "Unknown argument \"-dir=C:\\a\"."},
        {{"-uninstall", "-silent", "extra"}, "Unknown argument \"extra\"."},
        {{"-silent", "-allusers", "-allusers"}, "-allusers is given twice."},
        {{"-remove", "-silent", "-allusers"},
         "-allusers is for installing; a removal takes back what its installation made, wherever that was."},
    };
    for (const Case& c : cases) {
        TCommandLine command = ParseCommandLine(c.Arguments);
        EXPECT_EQ(command.Mode, TRunMode::BadArguments) << c.Error;
        EXPECT_EQ(command.Error, c.Error);
    }
    // The first fault is the one reported; a log named before or after it still gets the message.
    EXPECT_EQ(ParseCommandLine({"-silent", "-what", "-dir=x"}).Error, "Unknown argument \"-what\".");
    EXPECT_EQ(ParseCommandLine({"-silent", "-log=x.log", "-what"}).LogFile, "x.log");
    EXPECT_EQ(ParseCommandLine({"-silent", "-what", "-log=x.log"}).LogFile, "x.log");
    // Twice with the second one empty: the first fault only.
    EXPECT_EQ(ParseCommandLine({"-silent", "-log=a", "-log="}).Error, "-log is given twice.");
}
