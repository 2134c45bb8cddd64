// A dataset that hands every call to another one, for tests that change a
// few of a real dataset's answers: a subclass overrides only those.
#pragma once

#include <string>
#include <vector>

#include "selvo/SelvoDataSets.h"

namespace selvo::test {

class TForwardingDataSet : public TDataSet {
 public:
  explicit TForwardingDataSet(TDataSet& wrapped) : wrapped_(wrapped) {}

  const std::string& Name() const override { return wrapped_.Name(); }
  void Open() override { wrapped_.Open(); }
  void Close() override { wrapped_.Close(); }
  bool Active() const override { return wrapped_.Active(); }
  void First() override { wrapped_.First(); }
  void Next() override { wrapped_.Next(); }
  bool Eof() const override { return wrapped_.Eof(); }
  bool IsEmpty() const override { return wrapped_.IsEmpty(); }
  int RecordCount() const override { return wrapped_.RecordCount(); }
  int RecNo() const override { return wrapped_.RecNo(); }
  void SetRecNo(int recNo) override { wrapped_.SetRecNo(recNo); }
  TField& FieldByName(const std::string& name) override { return wrapped_.FieldByName(name); }
  TField* FindField(const std::string& name) override { return wrapped_.FindField(name); }
  bool Locate(const std::string& keyFields, const std::vector<TVariant>& keyValues, unsigned options) override {
    return wrapped_.Locate(keyFields, keyValues, options);
  }
  void Edit() override { wrapped_.Edit(); }
  void Append() override { wrapped_.Append(); }
  void Post() override { wrapped_.Post(); }
  void Cancel() override { wrapped_.Cancel(); }
  void Delete() override { wrapped_.Delete(); }
  bool Modified() const override { return wrapped_.Modified(); }
  TDataSetState State() const override { return wrapped_.State(); }
  int ChangeCount() const override { return wrapped_.ChangeCount(); }
  int ApplyUpdates(int maxErrors) override { return wrapped_.ApplyUpdates(maxErrors); }

 protected:
  TDataSet& Wrapped() const { return wrapped_; }

 private:
  TDataSet& wrapped_;
};

}  // namespace selvo::test
