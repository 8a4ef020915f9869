// Rivulet's music search page. The query arrives in the fragment after
// "#/s/mediafire/", escaped; it never leaves the browser except towards the
// site the user picks.
"use strict";

const PREFIX = "#/s/mediafire/";
const STORE_KEY = "rivulet.search.site";

// Each site's search address for an escaped query.
const SITES = [
  { id: "bandcamp", name: "Bandcamp", about: "artists and labels selling their music",
    url: q => "https://bandcamp.com/search?q=" + q },
  { id: "musicbrainz", name: "MusicBrainz", about: "the open music encyclopedia",
    url: q => "https://musicbrainz.org/search?type=recording&method=indexed&query=" + q },
  { id: "jamendo", name: "Jamendo", about: "free music from independent artists",
    url: q => "https://www.jamendo.com/search?q=" + q },
  { id: "archive", name: "Internet Archive", about: "the audio collection: live shows, old records, netlabels",
    url: q => "https://archive.org/search?query=" + q + "&and%5B%5D=mediatype%3A%22audio%22" },
  { id: "youtube", name: "YouTube", about: "videos and music videos",
    url: q => "https://www.youtube.com/results?search_query=" + q },
];

function queryFromFragment() {
  const hash = window.location.hash;
  if (!hash.startsWith(PREFIX))
    return "";
  const raw = hash.slice(PREFIX.length);
  try {
    return decodeURIComponent(raw);
  } catch (e) {
    return raw; // a stray "%" that starts no escape: show it as it is
  }
}

function rememberedSite() {
  try {
    const id = window.localStorage.getItem(STORE_KEY);
    return SITES.find(s => s.id === id) || null;
  } catch (e) {
    return null; // storage switched off: ask every time
  }
}

function remember(site) {
  try {
    if (site)
      window.localStorage.setItem(STORE_KEY, site.id);
    else
      window.localStorage.removeItem(STORE_KEY);
  } catch (e) {
    // Nothing to remember with; the choice simply shows again next time.
  }
}

function el(id) {
  return document.getElementById(id);
}

// Leaving for a site marks this history entry, so that Back shows the
// choice instead of leaving again.
function leaveFor(site, query) {
  remember(site);
  window.history.replaceState({ choice: true }, "");
  window.location.assign(site.url(encodeURIComponent(query)));
}

function renderLinks(query) {
  const list = el("sites");
  const chosen = rememberedSite();
  list.replaceChildren();
  for (const site of SITES) {
    const a = document.createElement("a");
    a.href = site.url(encodeURIComponent(query));
    a.rel = "noreferrer";
    a.dataset.site = site.id;
    if (chosen && chosen.id === site.id)
      a.className = "chosen";
    a.append(site.name);
    const small = document.createElement("small");
    small.textContent = site.about;
    a.append(small);
    a.addEventListener("click", event => {
      event.preventDefault();
      leaveFor(site, el("query").value);
    });
    const li = document.createElement("li");
    li.append(a);
    list.append(li);
  }
  el("empty").hidden = query !== "";
  el("remembered").hidden = !chosen;
  el("remembered-site").textContent = chosen ? chosen.name : "";
}

function showChoice(query) {
  el("going").hidden = true;
  el("choice").hidden = false;
  el("query").value = query;
  renderLinks(query);
}

function show(mayLeave) {
  const query = queryFromFragment();
  const site = rememberedSite();
  const cameBack = window.history.state && window.history.state.choice;
  if (mayLeave && site && query !== "" && !cameBack) {
    el("choice").hidden = true;
    el("going").hidden = false;
    el("going-site").textContent = site.name;
    el("going-query").textContent = query;
    leaveFor(site, query);
    return;
  }
  showChoice(query);
}

document.addEventListener("DOMContentLoaded", () => {
  el("query").addEventListener("input", () => renderLinks(el("query").value));
  el("form").addEventListener("submit", event => {
    event.preventDefault();
    const site = rememberedSite() || SITES[0];
    leaveFor(site, el("query").value);
  });
  el("forget").addEventListener("click", () => {
    remember(null);
    renderLinks(el("query").value);
  });
  el("going-back").addEventListener("click", event => {
    event.preventDefault();
    window.history.replaceState({ choice: true }, "");
    showChoice(queryFromFragment());
  });
  // A new search in the same tab arrives as a new fragment.
  window.addEventListener("hashchange", () => {
    window.history.replaceState(null, "");
    show(true);
  });
  show(true);
});

// Back from a site may restore this page from the browser's cache as it was
// left ("Opening ..."): show the choice then.
window.addEventListener("pageshow", event => {
  if (event.persisted)
    showChoice(queryFromFragment());
});
