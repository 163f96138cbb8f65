// The embedding layer against a real interpreter in this process.
#include "platform/python/pyembed.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/rtl/exceptions.h"
#include "tests/fakes/embedded_python.h"

namespace fs = std::filesystem;

namespace {

std::string PythonErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EPythonError& e) {
    return e.Message();
  }
  return "(no error)";
}

// Declared first so that it runs before any test starts the interpreter.
TEST(PythonEngineUnbound, BindingWithoutInterpreterFailsQuietlyWhenAskedTo) {
  if (PythonRunning()) GTEST_SKIP() << "an interpreter runs already";
  PythonEngine engine;
  engine.SetFatalMessage(false);
  engine.SetFatalAbort(false);
  testing::internal::CaptureStderr();
  EXPECT_EQ(PythonErrorOf([&] { engine.LoadDll(); }), "Python is not running in this process");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(engine.IsLoaded());
  EXPECT_FALSE(engine.IsModuleLoaded("sys"));
  EXPECT_EQ(PythonErrorOf([] { GetPythonEngine(); }), "The Python engine is not initialized");
  EXPECT_THROW(PythonLock(), EPythonError);
}

TEST(PythonEngineUnbound, FatalBindingErrorEndsTheProcessByDefault) {
  if (PythonRunning()) GTEST_SKIP() << "an interpreter runs already";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        PythonEngine engine;
        engine.LoadDll();
      },
      testing::ExitedWithCode(1), "Python is not running in this process");
}

class PyEmbedTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    EnsurePython();
    char pattern[] = "/tmp/kvt_pyembed_XXXXXX";
    folder_ = mkdtemp(pattern);
    fs::create_directories(folder_ / "kvtpkg");
    std::ofstream(folder_ / "kvtpkg" / "__init__.py") << "";
    std::ofstream(folder_ / "kvtpkg" / "manager.py")
        << "last = None\n"
           "def showcode(code, now, omitted):\n"
           "    global last\n"
           "    last = (code, now, omitted)\n"
           "def last_args():\n"
           "    code, now, omitted = last\n"
           "    return [code, type(now).__name__, now.isoformat(), omitted is True]\n"
           "def echo(x):\n"
           "    return x\n"
           "def fail():\n"
           "    raise ValueError('bad value')\n"
           "def odd():\n"
           "    return {1, 2}\n";
    ASSERT_EQ(RunPython("import sys; sys.path.insert(0, '" + folder_.string() + "')"), "");
  }
  static void TearDownTestSuite() {
    RunPython("import sys; sys.path.remove('" + folder_.string() + "')");
    fs::remove_all(folder_);
  }
  void SetUp() override {
    engine_ = std::make_unique<PythonEngine>();
    engine_->LoadDll();
  }

  static fs::path folder_;
  std::unique_ptr<PythonEngine> engine_;
};
fs::path PyEmbedTest::folder_;

TEST_F(PyEmbedTest, OneEnginePerLibraryAndItsLookup) {
  EXPECT_EQ(FindPythonEngine(), engine_.get());
  EXPECT_EQ(&GetPythonEngine(), engine_.get());
  EXPECT_THROW(PythonEngine(), EPythonError);
  engine_.reset();
  EXPECT_EQ(FindPythonEngine(), nullptr);
  EXPECT_EQ(PythonErrorOf([] { GetPythonEngine(); }), "No Python engine was created");
  EXPECT_TRUE(PythonRunning()) << "freeing the engine must leave the interpreter running";
}

TEST_F(PyEmbedTest, CallsAFunctionOfADottedModuleWithTextDateAndBoolean) {
  PyHandle manager = engine_->ImportModule("kvtpkg.manager");
  ASSERT_TRUE(manager);
  TDateTime when = EncodeDate(2024, 2, 29) + EncodeTime(13, 45, 30, 250);
  PyValue result = engine_->CallFunction(
      manager, "showcode",
      {PyValue::Text(u"8517 Ж 𝄞"), PyValue::DateTime(when), PyValue::Bool(true)});
  EXPECT_TRUE(result.IsNone());
  PyValue last = engine_->CallFunction(manager, "last_args", {});
  const auto& seen = last.AsList();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].AsText(), WideString(u"8517 Ж 𝄞"));
  EXPECT_EQ(seen[1].AsText().ToUtf8(), "datetime");
  EXPECT_EQ(seen[2].AsText().ToUtf8(), "2024-02-29T13:45:30.250000");  // local, no zone
  EXPECT_TRUE(seen[3].AsBool());
}

TEST_F(PyEmbedTest, ValuesRoundTrip) {
  PyHandle manager = engine_->ImportModule("kvtpkg.manager");
  const PyValue cases[] = {
      PyValue(),
      PyValue::Bool(false),
      PyValue::Int(-9007199254740993),
      PyValue::Float(2.5),
      PyValue::Text(u""),
      PyValue::Text(u"Объекты ИС"),
      PyValue::Bytes(std::string("a\0b", 3)),
      PyValue::List({PyValue::Int(1), PyValue::Utf8("x")}),
      PyValue::Dict({{"name", PyValue::Utf8("VODAR")}, {"n", PyValue::Int(3)}}),
  };
  for (const PyValue& v : cases) {
    SCOPED_TRACE(v.TypeName());
    PyValue back = engine_->CallFunction(manager, "echo", {v});
    ASSERT_EQ(back.kind(), v.kind());
    switch (v.kind()) {
      case PyValue::Kind::Bool:
        EXPECT_EQ(back.AsBool(), v.AsBool());
        break;
      case PyValue::Kind::Int:
        EXPECT_EQ(back.AsInt(), v.AsInt());
        break;
      case PyValue::Kind::Float:
        EXPECT_EQ(back.AsFloat(), v.AsFloat());
        break;
      case PyValue::Kind::Text:
        EXPECT_EQ(back.AsText(), v.AsText());
        break;
      case PyValue::Kind::Bytes:
        EXPECT_EQ(back.AsBytes(), v.AsBytes());
        break;
      case PyValue::Kind::List:
        EXPECT_EQ(back.AsList().size(), 2u);
        EXPECT_EQ(back.AsList()[1].AsText().ToUtf8(), "x");
        break;
      case PyValue::Kind::Dict:
        ASSERT_NE(back.Find("name"), nullptr);
        EXPECT_EQ(back.Find("name")->AsText().ToUtf8(), "VODAR");
        EXPECT_EQ(back.Find("n")->AsInt(), 3);
        break;
      default:
        break;
    }
  }
  // A result of a kind the layer does not carry arrives as its text.
  EXPECT_EQ(engine_->CallFunction(manager, "odd", {}).AsText().ToUtf8(), "{1, 2}");
}

TEST_F(PyEmbedTest, PythonErrorsArriveWithTheInterpretersMessage) {
  PyHandle manager = engine_->ImportModule("kvtpkg.manager");
  EXPECT_EQ(PythonErrorOf([&] { engine_->CallFunction(manager, "nothere", {}); }),
            "AttributeError: module 'kvtpkg.manager' has no attribute 'nothere'");
  EXPECT_EQ(PythonErrorOf([&] { engine_->CallFunction(manager, "fail", {}); }),
            "ValueError: bad value");
  EXPECT_EQ(PythonErrorOf([&] { engine_->ImportModule("kvtpkg.absent"); }),
            "ModuleNotFoundError: No module named 'kvtpkg.absent'");
  EXPECT_EQ(PythonErrorOf([&] { engine_->CallFunction(manager, "echo", {}); }),
            "TypeError: echo() missing 1 required positional argument: 'x'");
  // The interpreter is left without a pending error.
  EXPECT_EQ(RunPython("pass"), "");
}

TEST_F(PyEmbedTest, IsModuleLoadedLooksUpSysModulesByTextName) {
  engine_->ImportModule("kvtpkg.manager");
  ASSERT_EQ(RunPython("import sys; sys.modules['kvt_mapped_to_none'] = None"), "");
  struct Case {
    const char* name;
    bool loaded;
  } const cases[] = {
      {"kvtpkg", true},
      {"kvtpkg.manager", true},
      {"kvtpkg.never_imported", false},
      {"kvt_mapped_to_none", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(engine_->IsModuleLoaded(c.name), c.loaded);
  }
  EXPECT_FALSE(engine_->IsModuleLoaded("kvtpkg.never_imported"));
  EXPECT_EQ(RunPython("import sys; assert 'kvtpkg.never_imported' not in sys.modules"), "")
      << "asking must not import";
  RunPython("import sys; del sys.modules['kvt_mapped_to_none']");
}

TEST_F(PyEmbedTest, CallsFromAnotherThreadTakeTheLockThemselves) {
  PyHandle manager = engine_->ImportModule("kvtpkg.manager");
  PyValue result;
  std::thread t([&] { result = engine_->CallFunction(manager, "echo", {PyValue::Int(7)}); });
  t.join();
  EXPECT_EQ(result.AsInt(), 7);
}

class WrappedModuleTest : public PyEmbedTest {
 protected:
  void TearDown() override { RunPython("import sys; sys.modules.pop('kvt_wrapped', None)"); }
};

TEST_F(WrappedModuleTest, HandlersServeTheModulesFunctions) {
  PythonModule module;
  module.SetModuleName("kvt_wrapped");
  module.SetEngine(engine_.get());
  auto wrapper = std::make_unique<PyObjectWrapper>();
  wrapper->SetEngine(engine_.get());
  wrapper->SetModule(&module);
  const PyFunction table[] = {
      {"add", "add(a, b) -> int", 2,
       [](const std::vector<PyValue>& a) { return PyValue::Int(a[0].AsInt() + a[1].AsInt()); }},
      {"length", "", 1,
       [](const std::vector<PyValue>& a) {
         return PyValue::Int(static_cast<int64_t>(a[0].AsText().length()));
       }},
      {"broken", "", 0,
       [](const std::vector<PyValue>&) -> PyValue { throw EConvertError("broken ☃"); }},
      {"info", "", 0,
       [](const std::vector<PyValue>&) {
         return PyValue::Dict({{"name", PyValue::Utf8("VODAR")},
                               {"when", PyValue::DateTime(EncodeDate(2020, 1, 2))}});
       }},
  };
  wrapper->AddFunctions(table);
  wrapper->Initialize();
  EXPECT_EQ(RunPython("import sys; assert 'kvt_wrapped' not in sys.modules"), "");
  module.Initialize();
  EXPECT_THROW(module.Initialize(), EPythonError);

  EXPECT_EQ(RunPython(R"(
import kvt_wrapped as m, datetime
assert m.add(2, 40) == 42
assert m.add.__doc__ == 'add(a, b) -> int'
assert m.length('Ж𝄞') == 3, m.length('Ж𝄞')
assert m.length(b'abc') == 3
assert m.info() == {'name': 'VODAR', 'when': datetime.datetime(2020, 1, 2)}, m.info()
assert issubclass(m.Error, RuntimeError)
try:
    m.broken()
    raise AssertionError('no error')
except m.Error as e:
    assert str(e) == 'broken ☃', str(e)
for call, text in ((lambda: m.add(1), 'add() takes exactly 2 arguments (1 given)'),
                   (lambda: m.length(5), 'TypeError: str expected, got int')):
    try:
        call()
        raise AssertionError('no error')
    except (TypeError, m.Error) as e:
        assert str(e) == text, str(e)
)"),
            "");

  // The interpreter keeps the module; once the wrapper is gone its functions fail cleanly.
  wrapper.reset();
  EXPECT_EQ(RunPython(R"(
import kvt_wrapped as m
try:
    m.add(1, 2)
    raise AssertionError('no error')
except RuntimeError as e:
    assert str(e) == 'kvt_wrapped.add is no longer available', str(e)
)"),
            "");
}

TEST_F(WrappedModuleTest, AModuleWithoutEngineOrAfterItsWrapperIsSetUpIsRefused) {
  PythonModule module;
  module.SetModuleName("kvt_wrapped");
  EXPECT_THROW(module.Initialize(), EPythonError);  // no engine
  PyObjectWrapper wrapper;
  wrapper.SetEngine(engine_.get());
  EXPECT_THROW(wrapper.Initialize(), EPythonError);  // no module
  module.SetEngine(engine_.get());
  module.Initialize();
  wrapper.SetModule(&module);
  EXPECT_THROW(wrapper.Initialize(), EPythonError);  // too late: the module exists
  EXPECT_TRUE(engine_->IsModuleLoaded("kvt_wrapped"));
}

TEST_F(WrappedModuleTest, ComponentsLetGoOfAFreedEngine) {
  PythonModule module;
  PyObjectWrapper wrapper;
  module.SetEngine(engine_.get());
  wrapper.SetEngine(engine_.get());
  engine_.reset();
  EXPECT_EQ(module.Engine(), nullptr);
  EXPECT_EQ(wrapper.Engine(), nullptr);
}

}  // namespace
