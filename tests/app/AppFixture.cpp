#include "AppFixture.h"

#include <fstream>
#include <sstream>

namespace tapforge::app::test {

namespace {

// The controller needs a Qt application object for its event queue.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_app";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> logTexts(const AppState& state) {
    std::vector<std::string> texts;
    for (const LogLine& line : state.logs()) texts.push_back(line.text.substr(11));
    return texts;
}

AppTest::AppTest() {
    locations_.appFolder = path("data/Tapforge");
    locations_.settingsFile = path("config/Tapforge/Tapforge.conf");
    sim_->addScreen({0, 0, 800, 600}, 1.0, {40, 80, 120, 255});
}

AppTest::~AppTest() { state_.reset(); }

AppState& AppTest::start() {
    AppStateServices services;
    services.desktop = sim_->desktop();
    if (permissions_) services.desktop.permissions = permissions_;
    services.ui = {panels_, launcher_, pickers_, panel_};
    services.locations = locations_;
    services.timers = timers_;
    state_ = std::make_unique<AppState>(std::move(services));
    return *state_;
}

void AppTest::settleAutosave() {
    timers_->advance(AppState::kAutosaveDelayMs);
    state_->flushAutosave();
    QCoreApplication::processEvents();
}

}  // namespace tapforge::app::test
