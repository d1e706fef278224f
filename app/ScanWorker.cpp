#include "app/ScanWorker.h"

TScanWorker::TScanWorker(std::string Root, TCatalogueFormats Formats) {
  FThread = std::thread([this, Root = std::move(Root), Formats] { Run(Root, Formats); });
}

TScanWorker::~TScanWorker() {
  FStop = true;
  FThread.join();
}

void TScanWorker::Run(const std::string& Root, TCatalogueFormats Formats) {
  std::vector<TFoundPicture> Batch;
  std::shared_ptr<const std::string> Folder;
  // Hands over at most every few hundred pictures, so the lock is rare.
  auto Hand = [&] {
    std::lock_guard<std::mutex> Guard(FLock);
    if (FFound.empty())
      FFound.swap(Batch);
    else
      FFound.insert(FFound.end(), std::make_move_iterator(Batch.begin()),
                    std::make_move_iterator(Batch.end()));
    Batch.clear();
  };
  std::exception_ptr Failure;
  try {
    TWalkOptions Options;
    Options.Stop = &FStop;
    Options.Formats = Formats;
    WalkPictureTree(
        Root,
        [&](const TWalkPicture& P) {
          if (!Folder || *Folder != P.Folder)
            Folder = std::make_shared<const std::string>(P.Folder);
          TFoundPicture F;
          F.Folder = Folder;
          F.Name = P.Name;
          F.Type = P.Extension.substr(1);
          F.HasTime = P.HasTime;
          F.MTime = P.MTime;
          Batch.push_back(std::move(F));
          if (Batch.size() >= 256) Hand();
          return !FStop.load(std::memory_order_relaxed);
        },
        Options);
  } catch (...) {
    Failure = std::current_exception();
  }
  try {
    Hand();
  } catch (...) {
    if (!Failure) Failure = std::current_exception();
  }
  std::lock_guard<std::mutex> Guard(FLock);
  FFailure = Failure;
  FDone = true;
}

bool TScanWorker::Take(std::vector<TFoundPicture>& Out) {
  std::lock_guard<std::mutex> Guard(FLock);
  if (Out.empty())
    Out.swap(FFound);
  else
    Out.insert(Out.end(), std::make_move_iterator(FFound.begin()),
               std::make_move_iterator(FFound.end()));
  FFound.clear();
  if (!FDone) return false;
  if (FFailure) {
    const std::exception_ptr Failure = FFailure;
    FFailure = nullptr;
    std::rethrow_exception(Failure);
  }
  return true;
}
