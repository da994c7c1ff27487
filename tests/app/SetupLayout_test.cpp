#include "app/SetupLayout.h"

#include <gtest/gtest.h>
#include <zlib.h>

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
            if ((a.Parent && std::string(a.Parent) == b.Name) || (b.Parent && std::string(b.Parent) == a.Name))
                continue;
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

TEST(ResamplePicture, ShrinksByAveragingTheAreaAndKeepsFlatColoursExact) {
    // 4 x 2 source: columns 0-1 black/white checks, 2-3 a flat colour.
    const std::vector<uint8_t> source = {0,   0,   0,   255, 255, 255, 10, 20, 30, 10, 20, 30,
                                         255, 255, 255, 0,   0,   0,   10, 20, 30, 10, 20, 30};
    // Halved: each new pixel the mean of its 2 x 2 block.
    EXPECT_EQ(ResamplePicture(source, 4, 2, 2, 1), (std::vector<uint8_t>{128, 128, 128, 10, 20, 30}));
    // The same size gives the same picture.
    EXPECT_EQ(ResamplePicture(source, 4, 2, 4, 2), source);
    // Three quarters across (4 -> 3): the middle pixel takes half of columns 1 and 2.
    const std::vector<uint8_t> row = ResamplePicture(source, 4, 2, 3, 2);
    ASSERT_EQ(row.size(), 18u);
    EXPECT_EQ((std::vector<uint8_t>(row.begin() + 3, row.begin() + 6)), (std::vector<uint8_t>{133, 138, 143}));
    EXPECT_EQ((std::vector<uint8_t>(row.begin() + 6, row.begin() + 9)), (std::vector<uint8_t>{10, 20, 30}));
    // Enlarging keeps a flat colour flat, and the result has the size asked for.
    const std::vector<uint8_t> flat(5 * 3 * 3, 77);
    EXPECT_EQ(ResamplePicture(flat, 5, 3, 12, 7), std::vector<uint8_t>(12 * 7 * 3, 77));
    // Sizes that do not match the pixels, or are empty, give nothing.
    EXPECT_TRUE(ResamplePicture(source, 3, 2, 2, 1).empty());
    EXPECT_TRUE(ResamplePicture(source, 4, 2, 0, 1).empty());
}

TEST(ResamplePicture, TheCarriedPictureDecodesAndDamagedDataGivesNone) {
    const std::string pixels = "\x01\x02\x03\x04\x05\x06";  // 2 x 1
    std::string packed(compressBound(6), '\0');
    uLongf size = static_cast<uLongf>(packed.size());
    ASSERT_EQ(
        compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(pixels.data()), 6),
        Z_OK);
    packed.resize(size);
    const std::string good = std::string("PIC1\x02\0\0\0\x01\0\0\0", 12) + packed;
    int width = -1, height = -1;
    EXPECT_EQ(DecodePicture(good, width, height), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 1);
    // A size the pixels do not fill, a cut stream, a wrong mark, a huge size: nothing.
    for (const std::string& bad :
         {std::string("PIC1\x03\0\0\0\x01\0\0\0", 12) + packed, good.substr(0, good.size() - 3),
          "PIC2" + good.substr(4), std::string("PIC1\xFF\xFF\x00\x00\xFF\xFF\x00\x00", 12) + packed,
          good.substr(0, 11)}) {
        EXPECT_TRUE(DecodePicture(bad, width, height).empty());
        EXPECT_EQ(width, 0);
        EXPECT_EQ(height, 0);
    }
}
