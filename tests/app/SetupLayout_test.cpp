#include "app/SetupLayout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

struct Box {
    int Left, Top, Right, Bottom;
};

// The control's outline on its page: group-box contents are placed relative to the box.
Box OnPage(const TControlDef& Def) {
    int left = Def.Left, top = Def.Top;
    if (Def.Parent) {
        const TControlDef* parent = FindSetupControl(Def.Parent);
        if (parent->Kind != TControlKind::Panel) {
            left += parent->Left;
            top += parent->Top;
        }
    }
    return {left, top, left + Def.Width, top + Def.Height};
}

bool Overlap(const Box& A, const Box& B) {
    return A.Left < B.Right && B.Left < A.Right && A.Top < B.Bottom && B.Top < A.Bottom;
}

bool SizedByDesign(const TControlDef& Def) { return Def.Width > 0 && Def.Height > 0; }

}  // namespace

TEST(SetupLayout, NamesIdsAndParentsAreConsistent) {
    std::set<std::string> names;
    std::set<int> ids;
    for (const TControlDef& c : SetupFormLayout()) {
        EXPECT_TRUE(names.insert(c.Name).second) << "twice: " << c.Name;
        int id = SetupControlId(c);
        EXPECT_TRUE(ids.insert(id).second) << c.Name;
        // Enter and Esc arrive as IDOK and IDCANCEL: no control may carry them.
        EXPECT_GT(id, 2) << c.Name;
        EXPECT_LT(id, 0x10000) << c.Name;
        EXPECT_EQ(FindSetupControl(id), &c);
        EXPECT_EQ(FindSetupControl(c.Name), &c);
        if (c.Kind == TControlKind::Panel) {
            EXPECT_EQ(c.Parent, nullptr) << c.Name;
        } else {
            ASSERT_NE(c.Parent, nullptr) << c.Name;
            const TControlDef* parent = FindSetupControl(c.Parent);
            ASSERT_NE(parent, nullptr) << c.Name << " in " << c.Parent;
            EXPECT_TRUE(parent->Kind == TControlKind::Panel || parent->Kind == TControlKind::GroupBox) << c.Name;
            // Parents come first, so that they exist when the control is made.
            EXPECT_LT(parent, &c) << c.Name;
        }
    }
    EXPECT_EQ(FindSetupControl("NoSuchControl"), nullptr);
    EXPECT_EQ(FindSetupControl(1), nullptr);
}

TEST(SetupLayout, EveryPageFillsTheWindowAndHoldsItsControls) {
    int pages = 0;
    for (const TControlDef& c : SetupFormLayout()) {
        if (c.Kind == TControlKind::Panel) {
            ++pages;
            EXPECT_EQ(c.Left, 0);
            EXPECT_EQ(c.Top, 0);
            EXPECT_EQ(c.Width, SetupClientWidth);
            EXPECT_EQ(c.Height, SetupClientHeight);
            continue;
        }
        Box b = OnPage(c);
        EXPECT_GE(b.Left, 0) << c.Name;
        EXPECT_GE(b.Top, 0) << c.Name;
        EXPECT_LE(b.Right, SetupClientWidth) << c.Name;
        EXPECT_LE(b.Bottom, SetupClientHeight) << c.Name;
        const TControlDef* parent = FindSetupControl(c.Parent);
        if (parent->Kind == TControlKind::GroupBox) {
            EXPECT_LE(c.Left + c.Width, parent->Width) << c.Name << " leaves " << parent->Name;
            EXPECT_LE(c.Top + c.Height, parent->Height) << c.Name << " leaves " << parent->Name;
        }
    }
    EXPECT_EQ(pages, 7);
}

TEST(SetupLayout, ControlsOfAPageDoNotOverlap) {
    auto layout = SetupFormLayout();
    for (size_t i = 0; i < layout.size(); ++i)
        for (size_t j = i + 1; j < layout.size(); ++j) {
            const TControlDef& a = layout[i];
            const TControlDef& b = layout[j];
            if (a.Kind == TControlKind::Panel || SetupControlPage(a) != SetupControlPage(b)) continue;
            if (!SizedByDesign(a) || !SizedByDesign(b)) continue;
            // The finish page shows one of its two check boxes in the same place.
            if (std::string(a.Name) == "RunCheckBox" && std::string(b.Name) == "RebootCheckBox") continue;
            if ((a.Parent && std::string(a.Parent) == b.Name) || (b.Parent && std::string(b.Parent) == a.Name)) continue;
            EXPECT_FALSE(Overlap(OnPage(a), OnPage(b))) << a.Name << " overlaps " << b.Name;
        }
}

TEST(SetupLayout, EachPageHasItsEnterAndEscButtons) {
    for (const TControlDef& page : SetupFormLayout()) {
        if (page.Kind != TControlKind::Panel) continue;
        std::string name = page.Name;
        const TControlDef* cancel = PageButton(page, cfCancel);
        const TControlDef* next = PageButton(page, cfDefault);
        ASSERT_NE(cancel, nullptr) << name;
        int cancels = 0;
        for (const TControlDef& c : SetupFormLayout())
            if (SetupControlPage(c) == &page && (c.Flags & cfCancel)) ++cancels;
        EXPECT_EQ(cancels, 1) << name;
        if (name == "InstallPanel") {
            EXPECT_EQ(next, nullptr);
        } else if (name == "DonePanel") {
            EXPECT_EQ(next, cancel) << "Finish is both";
        } else {
            ASSERT_NE(next, nullptr) << name;
            EXPECT_EQ(std::string(next->Text), "Next >");
            EXPECT_EQ(std::string(cancel->Text), "Cancel");
            EXPECT_EQ(next->Left + next->Width, 409) << name;
        }
        EXPECT_EQ(cancel->Left + cancel->Width, 489) << name;
        EXPECT_EQ(cancel->Top, 272) << name;
    }
}
