"use strict";
// Stands in for the page until its own script is built in: shows the link state.
fetch("api/state").then((r) => r.json()).then((s) => {
  document.getElementById("link-state").textContent = s.overview ? s.overview.link : "log in first";
});
