// Templates and picking: the capture rule, the library's row operations, the frozen frame,
// and the live tests of steps and templates.
#include "AppFixture.h"
#include "vision/Base64.h"
#include "vision/PngCodec.h"

namespace tapforge::app::test {

namespace {

class PickingTest : public AppTest {
protected:
    void SetUp() override {
        start();
        state().clearAll();
    }
    // Answers the region selector and lets the capture delay pass.
    void selectRegion(platform::Rect rect, std::shared_ptr<const ScreenFrame> frame = nullptr) {
        ASSERT_TRUE(pickers_->region);
        auto completion = std::exchange(pickers_->region, nullptr);
        completion(RegionPick{rect, std::move(frame)});
        timers_->advance(AppState::kCaptureDelayMs);
    }
    platform::RgbaImage decoded(const ImageTemplate& t) {
        return *vision::PngCodec::decode(*vision::decodeBase64(t.pngBase64));
    }
};

}  // namespace

TEST_F(PickingTest, CaptureRuleClipsToTheDesktopKeepsTheSelectedOriginAndScales) {
    sim_->addScreen({800, 0, 100, 100}, 2.0, {0, 0, 0, 255});   // a 2x screen right of the first
    state().addStep(StepKind::imageCheck);
    state().addStep(StepKind::imageCheck);
    const Uuid id = *state().selectedStepID();
    state().captureTemplate(id);
    selectRegion({-20, 590, 60, 30});   // half off the desktop
    const ImageTemplate t = *state().step(id).imageTemplate;
    EXPECT_EQ(t.name, "模板3");
    EXPECT_EQ(t.originX, -20);
    EXPECT_EQ(t.originY, 590);
    EXPECT_EQ(t.widthPoints, 40);
    EXPECT_EQ(t.heightPoints, 10);
    EXPECT_EQ(state().statusMessage(), "已保存图片模板 40 × 10");
    EXPECT_EQ(logTexts(state()).back(), "已保存图片模板「模板3」 40 × 10");

    state().captureTemplate(id);
    selectRegion({850, 550, -50, -25});   // unnormalised, on the 2x screen: 50 x 25 points
    const ImageTemplate scaled = *state().step(id).imageTemplate;
    EXPECT_EQ(scaled.pixelScale, 2.0);
    EXPECT_EQ(decoded(scaled).width, 100);
    EXPECT_EQ(decoded(scaled).height, 50);
    EXPECT_EQ(scaled.widthPoints, 50);

    state().captureTemplate(id);
    selectRegion({10, 10, 0.5, 20});
    EXPECT_EQ(state().alertMessage(), "截图失败，请确认已授予「屏幕录制」权限后重试。");
    state().captureTemplate(id);
    pickers_->region(std::nullopt);
    EXPECT_EQ(logTexts(state()).back(), "已取消截图");
}

TEST_F(PickingTest, CaptureReadsTheFrameTheUserSelectedOnNotTheLiveScreen) {
    auto frame = std::make_shared<ScreenFrame>();
    frame->bounds = {0, 0, 800, 600};
    frame->image.width = 800, frame->image.height = 600;
    frame->image.pixels.assign(800 * 600 * 4, 0);
    for (size_t i = 0; i < frame->image.pixels.size(); i += 4) frame->image.pixels[i] = 200, frame->image.pixels[i + 3] = 255;
    state().addTemplate("冻结");
    const int grabs = sim_->grabCount();
    selectRegion({100, 100, 4, 3}, frame);
    ASSERT_EQ(state().script().templates.size(), 1u);
    const platform::RgbaImage image = decoded(state().script().templates[0]);
    EXPECT_EQ(image.pixel(2, 1)[0], 200);   // the frozen frame's red, not the live blue-grey
    EXPECT_EQ(sim_->grabCount(), grabs);
}

TEST_F(PickingTest, LibraryNamesRowOperationsAndStaleRows) {
    state().addTemplate("  ");
    selectRegion({0, 0, 10, 10});
    state().addTemplate("按钮");
    selectRegion({0, 0, 10, 10});
    state().addTemplate("按钮");
    selectRegion({20, 20, 5, 5});
    ASSERT_EQ(state().script().templates.size(), 3u);
    EXPECT_EQ(state().script().templates[0].name, "模板1");
    EXPECT_EQ(state().statusMessage(), "模板「按钮」已加入模板库");

    // A row's button acts on that row only, not on every template with its name.
    const ImageTemplate second = state().templateAt(2);
    state().recaptureTemplate(2, second);
    selectRegion({30, 30, 7, 7});
    EXPECT_EQ(state().script().templates[2].widthPoints, 7);
    EXPECT_EQ(state().script().templates[1].widthPoints, 10);
    EXPECT_EQ(state().statusMessage(), "模板「按钮」已更新");

    const ImageTemplate first = state().templateAt(1);
    state().recaptureTemplate(1, first);
    state().deleteTemplate(1, first);   // deleted while the selector was open
    selectRegion({30, 30, 9, 9});
    ASSERT_EQ(state().script().templates.size(), 2u);
    EXPECT_EQ(state().script().templates[1].widthPoints, 7);

    Binding<ImageTemplate> stale = state().binding(size_t{5});
    EXPECT_EQ(stale.get().name, "模板");
    stale.set(second, "name");
    EXPECT_EQ(state().script().templates.size(), 2u);
    state().deleteTemplate(0, second);   // row 0 holds another template: nothing
    EXPECT_EQ(state().script().templates.size(), 2u);
}

TEST_F(PickingTest, StepTestsReportAndAskForPermissionOnlyWhenTheyCapture) {
    state().addStep(StepKind::delay);
    state().testStep(*state().selectedStepID());
    EXPECT_EQ(state().statusMessage(), "该步骤不需要测试");
    EXPECT_TRUE(logTexts(state()).empty());

    state().addStep(StepKind::colorCheck);
    const Uuid colour = *state().selectedStepID();
    Step s = state().step(colour);
    ColorPoint p;
    p.x = 10, p.y = 10, p.red = 40, p.green = 80, p.blue = 120, p.enabled = false;
    s.colorPoints = {p};
    state().writeStep(colour, s);
    sim_->setScreenCaptureAllowed(false);
    state().testStep(colour);
    EXPECT_EQ(state().statusMessage(), "没有可用的颜色点");
    EXPECT_EQ(sim_->screenCaptureRequestCount(), 0);
    sim_->setScreenCaptureAllowed(true);
    s.colorPoints[0].enabled = true;
    state().writeStep(colour, s);
    state().testStep(colour);
    EXPECT_EQ(state().statusMessage(), "颜色比对通过");
    EXPECT_EQ(logTexts(state()).back().rfind("✔︎ 测试颜色：", 0), 0u);

    state().addStep(StepKind::imageCheck);
    state().testStep(*state().selectedStepID());
    EXPECT_EQ(state().statusMessage(), "还没有截取图片模板");
}

TEST_F(PickingTest, TestMatchFindsALibraryTemplateOnTheLiveScreen) {
    sim_->fill({300, 200, 20, 10}, {250, 250, 0, 255});
    sim_->fill({305, 203, 5, 4}, {0, 0, 0, 255});
    state().addTemplate("黄");
    selectRegion({296, 196, 28, 18});
    state().testMatch(state().templateAt(0));
    EXPECT_EQ(state().statusMessage(), "「黄」最高相似度 100.0%");
    EXPECT_EQ(logTexts(state()).back(), "✔︎ 模板测试「黄」：相似度 100.0%，位置 (310, 205)");
    ImageTemplate broken = state().templateAt(0);
    broken.pngBase64 = "xx";
    state().testMatch(broken);
    EXPECT_EQ(state().statusMessage(), "模板解码失败");
}

TEST_F(PickingTest, PickedPointsAndColoursGoToTheirStepEvenAfterOtherEdits) {
    state().addStep(StepKind::mouseMove);
    const Uuid id = *state().selectedStepID();
    state().pickPoint(id);
    state().addStep(StepKind::comment);
    pickers_->point(platform::Point{12.4, 56.6});
    EXPECT_EQ(state().step(id).x, 12.4);
    EXPECT_EQ(state().statusMessage(), "已记录坐标 (12, 57)");
    EXPECT_EQ(logTexts(state()).back(), "拾取坐标 (12, 57)");
    state().pickPoint(id);
    pickers_->point(std::nullopt);
    EXPECT_EQ(state().statusMessage(), "已取消取点");

    state().pickColors(id);
    ColorPoint p;
    p.red = 255;
    pickers_->onPick(p);
    pickers_->onFinish();
    EXPECT_EQ(state().step(id).colorPoints.size(), 1u);
    EXPECT_EQ(state().statusMessage(), "取色结束");
}

}  // namespace tapforge::app::test
