// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/c_doc_viewer.h"
#include "viewer/dispatch_target.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <vector>

namespace {

// A control that notes each call by number and with its arguments' types.
class RecordingControl : public QWidget, public DispatchTarget {
public:
    struct Call {
        int dispid;
        QVariantList args;
    };

    QVariant Invoke(int dispid, const QVariantList &args) override
    {
        calls.push_back({dispid, args});
        switch (dispid) {
        case 2:
            return QVariant(7);
        case 3:
        case 4:
            return QVariant(true);
        default:
            return QVariant();
        }
    }

    std::vector<Call> calls;
};

// The control is addressed by fixed numbers: each wrapper call must send its own.
TEST(CDocViewerTest, EachOperationSendsItsDispatchNumberAndArgumentTypes)
{
    RecordingControl control;
    CDocViewer viewer;
    viewer.Attach(&control);

    EXPECT_TRUE(viewer.OpenDocument(QStringLiteral("/docs/a.pdf"), QString(), QString(), 100));
    EXPECT_EQ(viewer.GetPageCount(), 7);
    viewer.CloseDocument();
    EXPECT_TRUE(viewer.ApplyPreviewSetting(1));
    viewer.ApplyDisplaySetting(3);

    ASSERT_EQ(control.calls.size(), 5u);
    const std::vector<int> numbers = {control.calls[0].dispid, control.calls[1].dispid,
                                      control.calls[2].dispid, control.calls[3].dispid,
                                      control.calls[4].dispid};
    EXPECT_EQ(numbers, (std::vector<int>{4, 2, 1, 3, 8}));

    const QVariantList &open = control.calls[0].args;
    ASSERT_EQ(open.size(), 4);
    EXPECT_EQ(open[0].toString(), QStringLiteral("/docs/a.pdf"));
    EXPECT_TRUE(open[1].toString().isEmpty());
    EXPECT_TRUE(open[2].toString().isEmpty());
    EXPECT_EQ(open[3].typeId(), QMetaType::Short);
    EXPECT_EQ(open[3].toInt(), 100);
    EXPECT_TRUE(control.calls[1].args.isEmpty());
    EXPECT_TRUE(control.calls[2].args.isEmpty());
    ASSERT_EQ(control.calls[3].args.size(), 1);
    EXPECT_EQ(control.calls[3].args[0].typeId(), QMetaType::Int);
    ASSERT_EQ(control.calls[4].args.size(), 1);
    EXPECT_EQ(control.calls[4].args[0].typeId(), QMetaType::Short);
    EXPECT_EQ(control.calls[4].args[0].toInt(), 3);
}

TEST(CDocViewerTest, WithoutAControlEveryCallDoesNothing)
{
    CDocViewer viewer;
    EXPECT_FALSE(viewer.OpenDocument(QStringLiteral("/docs/a.pdf"), QString(), QString(), 100));
    EXPECT_EQ(viewer.GetPageCount(), 0);
    EXPECT_FALSE(viewer.ApplyPreviewSetting(1));
    QWidget plain;
    viewer.Attach(&plain);
    EXPECT_EQ(viewer.GetPageCount(), 0);
    viewer.CloseDocument();
}

} // namespace
