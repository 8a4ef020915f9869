#include "library/MprisInterfaces.h"
#include "library/MprisPlayer.h"

MprisRootInterface::MprisRootInterface(MprisPlayer *player) : QDBusAbstractAdaptor(player) {}

MprisPlayerInterface::MprisPlayerInterface(MprisPlayer *player) : QDBusAbstractAdaptor(player), m_player(player) {}

QString MprisPlayerInterface::playbackStatus() const { return m_player->state().status; }
QVariantMap MprisPlayerInterface::metadata() const { return m_player->state().metadata; }
double MprisPlayerInterface::volume() const { return m_player->state().volume; }
qlonglong MprisPlayerInterface::position() const { return m_player->position(); }
bool MprisPlayerInterface::canControl() const { return m_player->state().connected; }
bool MprisPlayerInterface::canPlay() const
{
    const MprisPlayer::State s = m_player->state();
    return s.connected && s.queueLength > 0;
}
void MprisPlayerInterface::Play() { m_player->command(MprisPlayer::Command::Play); }
void MprisPlayerInterface::Pause() { m_player->command(MprisPlayer::Command::Pause); }
void MprisPlayerInterface::PlayPause() { m_player->command(MprisPlayer::Command::PlayPause); }
void MprisPlayerInterface::Stop() { m_player->command(MprisPlayer::Command::Stop); }
void MprisPlayerInterface::Next() { m_player->command(MprisPlayer::Command::Next); }
void MprisPlayerInterface::Previous() { m_player->command(MprisPlayer::Command::Previous); }
