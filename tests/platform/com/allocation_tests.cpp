#include <gtest/gtest.h>

#include "platform/dshow/dshow.h"

namespace {

using zrf::com::BstrLiveCount;
using zrf::com::ComPtr;
using zrf::com::TaskAllocatorLiveCount;

TEST(TaskAllocator, CountsLiveBlocks) {
    long before = TaskAllocatorLiveCount();
    void* a = CoTaskMemAlloc(16);
    void* b = CoTaskMemAlloc(0);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(before + 2, TaskAllocatorLiveCount());
    CoTaskMemFree(a);
    CoTaskMemFree(b);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(before, TaskAllocatorLiveCount());
}

TEST(Bstr, KeepsItsLengthAndIsFreedByVariantClear) {
    long before = BstrLiveCount();
    VARIANT value;
    VariantInit(&value);
    EXPECT_EQ(VT_EMPTY, value.vt);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"DevicePath");
    EXPECT_EQ(10u, SysStringLen(value.bstrVal));
    EXPECT_EQ(std::wstring(L"DevicePath"), value.bstrVal);
    EXPECT_EQ(before + 1, BstrLiveCount());
    EXPECT_EQ(S_OK, VariantClear(&value));
    EXPECT_EQ(VT_EMPTY, value.vt);
    EXPECT_EQ(before, BstrLiveCount());
    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    EXPECT_EQ(0u, SysStringLen(nullptr));
}

TEST(BindCtx, IsCreatedAndCounted) {
    ComPtr<IBindCtx> context;
    EXPECT_EQ(S_OK, CreateBindCtx(0, context.Receive()));
    EXPECT_TRUE(context);
    EXPECT_EQ(E_INVALIDARG, CreateBindCtx(1, context.Receive()));
    EXPECT_EQ(E_POINTER, CreateBindCtx(0, nullptr));
}

AM_MEDIA_TYPE* VideoType(LONG width, LONG height) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    *mt = AM_MEDIA_TYPE{};
    mt->majortype = MEDIATYPE_Video;
    mt->formattype = FORMAT_VideoInfo;
    mt->cbFormat = sizeof(VIDEOINFOHEADER);
    mt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(mt->cbFormat));
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    std::memcpy(mt->pbFormat, &vih, sizeof vih);
    return mt;
}

TEST(MediaType, CopiesAreDeepAndEverythingIsFreed) {
    long before = TaskAllocatorLiveCount();
    {
        auto owned = zrf::dshow::MediaType::Adopt(VideoType(640, 483));
        EXPECT_EQ(before + 1, TaskAllocatorLiveCount());  // the structure went, the block stays
        zrf::dshow::MediaType copy = owned;
        ASSERT_NE(nullptr, copy.VideoInfo());
        EXPECT_NE(owned->pbFormat, copy->pbFormat);
        copy.VideoInfo()->bmiHeader.biHeight = 480;
        EXPECT_EQ(483, owned.VideoInfo()->bmiHeader.biHeight);
        zrf::dshow::MediaType moved = std::move(copy);
        EXPECT_EQ(nullptr, copy->pbFormat);
        EXPECT_EQ(480, moved.VideoInfo()->bmiHeader.biHeight);
    }
    AM_MEDIA_TYPE* source = VideoType(320, 240);
    AM_MEDIA_TYPE* created = CreateMediaType(source);
    ASSERT_NE(nullptr, created);
    EXPECT_NE(source->pbFormat, created->pbFormat);
    DeleteMediaType(created);
    DeleteMediaType(source);
    EXPECT_EQ(before, TaskAllocatorLiveCount());
}

TEST(MediaType, AShortFormatBlockIsNotAVideoInfoHeader) {
    zrf::dshow::MediaType type = zrf::dshow::MediaType::Adopt(VideoType(640, 480));
    type->cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    EXPECT_EQ(nullptr, type.VideoInfo());
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->formattype = FORMAT_None;
    EXPECT_EQ(nullptr, type.VideoInfo());
    type->formattype = FORMAT_VideoInfo;
}

}  // namespace
