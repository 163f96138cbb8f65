// The component category manager: which classes implement which categories, read from
// the registry (CLSID\{clsid}\Implemented Categories\{catid} and
// CLSID\{clsid}\Required Categories\{catid}). Registered in the class table from the start
// as an in-process class; a test may unregister it or register another object under its
// class identifier.
#pragma once

#include "platform/com/comptr.h"

using CATID = GUID;

inline constexpr CLSID CLSID_StdComponentCategoriesMgr =
    "{0002E005-0000-0000-C000-000000000046}"_guid;

// An enumerator of GUIDs.
struct IEnumGUID : IUnknown {
  static constexpr GUID iid = "{0002E000-0000-0000-C000-000000000046}"_guid;
  // Copies up to `count` items into `items`; *fetched (may be null when count is 1)
  // receives how many. S_OK when all `count` came, S_FALSE otherwise.
  virtual HRESULT Next(ULONG count, GUID* items, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumGUID** clone) = 0;

 protected:
  ~IEnumGUID() = default;
};

struct ICatInformation : IUnknown {
  static constexpr GUID iid = "{0002E013-0000-0000-C000-000000000046}"_guid;
  // Not offered (E_NOTIMPL): the list of categories and their descriptions.
  virtual HRESULT EnumCategories(LCID lcid, IUnknown** categories) = 0;
  virtual HRESULT GetCategoryDesc(const CATID& catid, LCID lcid, char16_t** desc) = 0;
  // The classes that implement at least one of `implemented` (count (ULONG)-1: any) and
  // require nothing outside `required` (count (ULONG)-1: not checked). *classes receives a
  // new enumerator over a snapshot.
  virtual HRESULT EnumClassesOfCategories(ULONG implemented_count, const CATID* implemented,
                                          ULONG required_count, const CATID* required,
                                          IEnumGUID** classes) = 0;
  // S_OK when `clsid` passes the same test, S_FALSE otherwise.
  virtual HRESULT IsClassOfCategories(const CLSID& clsid, ULONG implemented_count,
                                      const CATID* implemented, ULONG required_count,
                                      const CATID* required) = 0;
  virtual HRESULT EnumImplCategoriesOfClass(const CLSID& clsid, IEnumGUID** categories) = 0;
  virtual HRESULT EnumReqCategoriesOfClass(const CLSID& clsid, IEnumGUID** categories) = 0;

 protected:
  ~ICatInformation() = default;
};

// A new category manager object (what the class table's factory makes).
ComPtr<IUnknown> CreateStdComponentCategoriesMgr();
