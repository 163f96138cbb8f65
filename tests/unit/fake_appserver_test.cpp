#include "tests/fakes/fake_appserver.h"

#include <gtest/gtest.h>

namespace {

// Clients that reach the fake through late binding (IDispatch::Invoke) see the same
// server as those that call IAppServer directly.
TEST(FakeAppServer, InvokeServesGetRecordsAndApplyUpdatesWithByReferenceArguments) {
  ComPtr<FakeAppServer> server = MakeObject<FakeAppServer>();
  server->AddTable("t", {{"ID", ftInteger, 0, true, pfInWhere | pfInKey | pfInUpdate}},
                   {{Variant(1)}, {Variant(2)}});
  ComPtr<IDispatch> disp(server.Get());

  Variant recs, params, owner, result;
  Variant get_args[] = {Variant::ByRef(&owner),   Variant::ByRef(&params),
                        Variant(WideString()),    Variant(int32_t{grMetaData}),
                        Variant::ByRef(&recs),    Variant(int32_t{-1}),
                        Variant(WideString(u"t"))};  // last argument first
  DISPPARAMS dp{get_args, nullptr, 7, 0};
  ASSERT_EQ(
      disp->Invoke(kDispGetRecords, GUID_NULL, 0, DISPATCH_METHOD, &dp, &result, nullptr, nullptr),
      S_OK);
  EXPECT_EQ(recs.ToInt32(), 2);
  EXPECT_EQ(DecodeDataPacket(std::move(result)).row_count, 2);

  DeltaPacket delta;
  delta.columns = server->GetTable("t").columns;
  delta.changes.push_back({1, ukDelete, {Variant(2)}, {}});
  Variant errors;
  Variant apply_args[] = {Variant::ByRef(&owner), Variant::ByRef(&errors), Variant(int32_t{-1}),
                          EncodeDeltaPacket(std::move(delta)), Variant(WideString(u"t"))};
  DISPPARAMS ap{apply_args, nullptr, 5, 0};
  ASSERT_EQ(disp->Invoke(kDispApplyUpdates, GUID_NULL, 0, DISPATCH_METHOD, &ap, &result, nullptr,
                         nullptr),
            S_OK);
  EXPECT_EQ(errors.ToInt32(), 0);
  EXPECT_EQ(server->GetTable("t").rows.size(), 1u);
  EXPECT_EQ(server->apply_calls, 1);
  EXPECT_EQ(server->get_records_calls, 1);

  DISPPARAMS none{};
  EXPECT_EQ(
      disp->Invoke(kDispExecute, GUID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
      DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(disp->Invoke(kDispGetRecords, GUID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr,
                         nullptr),
            DISP_E_BADPARAMCOUNT);
}

}  // namespace
