#include "platform/MetaFilePlayer.h"

#include "platform/MetaFilePlayerState.h"

#include <QPainter>

#include <algorithm>

namespace metafile_player {

TPlayer::TPlayer(const TMetafileData& M, QPainter& P, const QRectF& Dest)
    : FM(M), FP(P), FDest(Dest), FBase(P.worldTransform()) {
  FObjects.resize(
      std::min<size_t>(kMaxObjects, M.Kind == TMetafileKind::Wmf ? M.ObjectCount : M.HandleCount));
  if (M.Kind == TMetafileKind::Wmf)
    SetupWmfPlayback();
  else
    SetupEmfPlayback();
}

void TPlayer::Play() {
  FP.save();
  FP.setRenderHint(QPainter::Antialiasing, false);
  FP.setRenderHint(QPainter::SmoothPixmapTransform, false);
  FP.setClipping(false);
  const bool wmf = FM.Kind == TMetafileKind::Wmf;
  for (const TMetaRecord& rec : FM.Records) {
    const TRecordReader r = FM.Record(rec);
    try {
      if (wmf)
        PlayWmf(rec.Type, r);
      else
        PlayEmf(rec.Type, r);
    } catch (const ERecordTruncated&) {
      // A record whose fields leave it is skipped.
    }
  }
  FP.restore();
}

} // namespace metafile_player

void PlayMetafile(const TMetafileData& M, QPainter& Painter, const QRectF& Dest) {
  metafile_player::TPlayer player(M, Painter, Dest);
  player.Play();
}
