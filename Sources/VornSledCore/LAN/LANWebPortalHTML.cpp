#include "LANWebPortalHTML.h"

namespace {

constexpr std::string_view pageHead = R"HTML(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width,initial-scale=1">
<title>VornSled LAN — )HTML";

constexpr std::string_view styleAndHeaderStart = R"HTML(</title>
<style>
:root{--bg1:#6E1F63;--bg2:#471645;--bg3:#240B26;--accent:#F472D0;--ok:#3EE6A8;--err:#FF647C;}
*{box-sizing:border-box;}
body{margin:0;font-family:system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;color:#fff;background:linear-gradient(135deg,var(--bg1),var(--bg2),var(--bg3));padding:20px;min-height:100vh;}
.wrap{max-width:740px;margin:0 auto;display:flex;flex-direction:column;gap:16px;}
.card{background:rgba(255,255,255,0.08);border:1px solid rgba(255,255,255,0.16);border-radius:16px;padding:18px;backdrop-filter:blur(12px);-webkit-backdrop-filter:blur(12px);}
h1{font-size:22px;margin:0 0 4px 0;}
.sub{font-size:13px;opacity:0.75;}
.drop{border:2px dashed rgba(244,114,208,0.55);border-radius:14px;padding:28px;text-align:center;cursor:pointer;background:rgba(255,255,255,0.04);transition:all 0.15s;}
.drop:hover,.drop.over{border-color:var(--accent);background:rgba(244,114,208,0.14);}
button{background:#fff;color:#18071a;border:none;border-radius:10px;padding:9px 16px;font-weight:700;font-size:13px;cursor:pointer;}
button.secondary{background:rgba(255,255,255,0.14);color:#fff;border:1px solid rgba(255,255,255,0.2);}
input,textarea{width:100%;background:rgba(0,0,0,0.28);color:#fff;border:1px solid rgba(255,255,255,0.18);border-radius:10px;padding:10px;font-size:14px;}
.row{display:flex;gap:10px;flex-wrap:wrap;align-items:center;}
.item{display:flex;justify-content:space-between;align-items:center;padding:10px 12px;background:rgba(255,255,255,0.06);border-radius:10px;margin-top:8px;font-size:13px;}
.status{font-size:12px;margin-top:8px;opacity:0.9;}
</style>
</head>
<body>
<div class="wrap">
<div class="card">
<h1>VornSled LAN &middot; )HTML";

constexpr std::string_view subtitle = R"HTML(</h1>
<div class="sub">Zero-account Linux &harr; Windows / Android / Linux transfer with SHA-256 verification</div>
)HTML";

constexpr std::string_view pinBlock =
    R"HTML(<input id="pin" placeholder="Enter 4-digit LAN PIN shown on this computer" maxlength="8" style="margin-top:12px">
)HTML";

constexpr std::string_view uploadCardStart = R"HTML(</div>
<div class="card">
<div id="drop" class="drop"><b>Drop files here or tap to send to )HTML";

constexpr std::string_view clipboardCardStart = R"HTML(</b><br><small>Parallel HTTP streaming + automatic SHA-256 verification</small></div>
<input id="picker" type="file" multiple style="display:none">
<div id="uploadLog" class="status"></div>
</div>
<div class="card">
<b>Instant LAN Clipboard</b>
<textarea id="clipText" rows="3" placeholder="Paste text to sled straight to )HTML";

constexpr std::string_view sharesCardStart = R"HTML('s clipboard..." style="margin-top:10px"></textarea>
<div class="row" style="margin-top:10px">
<button id="sendClip">Sled Clipboard &rarr;</button>
<button id="fetchClip" class="secondary">Fetch Latest from this computer</button>
<span id="clipStatus" class="sub"></span>
</div>
</div>
<div class="card">
<div class="row" style="justify-content:space-between"><b>Shared from )HTML";

constexpr std::string_view pageTail = R"HTML(</b><button id="refreshShares" class="secondary">Refresh</button></div>
<div id="shares"><div class="sub">Loading shared files...</div></div>
</div>
</div>
<script>
(function(){
  var pinField = document.getElementById('pin');
  function pin(){ return pinField ? pinField.value.trim() : ''; }
  function sender(){ return navigator.platform || 'Web Browser'; }
  function ok(status){ return status >= 200 && status < 300; }
  var drop = document.getElementById('drop');
  var picker = document.getElementById('picker');
  var uploadLog = document.getElementById('uploadLog');
  function logLine(text, color){
    var line = document.createElement('div');
    line.textContent = text;
    if (color) { line.style.color = color; }
    uploadLog.appendChild(line);
  }
  function toHex(buffer){
    return Array.prototype.map.call(new Uint8Array(buffer), function(b){
      return ('0' + b.toString(16)).slice(-2);
    }).join('');
  }
  async function uploadOne(file){
    logLine('Hashing & sleding ' + file.name + '...');
    var digest = null;
    if (file.size <= 150 * 1024 * 1024 && window.crypto && window.crypto.subtle) {
      digest = toHex(await window.crypto.subtle.digest('SHA-256', await file.arrayBuffer()));
    }
    var headers = {
      'X-VornSled-Filename': encodeURIComponent(file.name),
      'X-VornSled-Sender': sender(),
      'X-VornSled-PIN': pin()
    };
    if (digest) { headers['X-VornSled-SHA256'] = digest; }
    try {
      var response = await fetch('/api/v1/upload', {method: 'POST', headers: headers, body: file});
      if (ok(response.status)) {
        var reply = await response.json();
        var hash = String(reply.sha256 || '').slice(0, 12);
        var outcome = reply.verified === true ? ' verified (' : ' uploaded (not verified) (';
        logLine('\u2713 ' + file.name + outcome + hash + '...)', '#3EE6A8');
      } else {
        logLine('\u2717 ' + file.name + ': HTTP ' + response.status, '#FF647C');
      }
    } catch (error) {
      logLine('\u2717 ' + file.name + ': ' + error, '#FF647C');
    }
  }
  async function uploadAll(files){
    for (var i = 0; i < files.length; i++) { await uploadOne(files[i]); }
  }
  drop.addEventListener('click', function(){ picker.click(); });
  drop.addEventListener('dragover', function(e){ e.preventDefault(); drop.classList.add('over'); });
  drop.addEventListener('dragleave', function(){ drop.classList.remove('over'); });
  drop.addEventListener('drop', function(e){
    e.preventDefault();
    drop.classList.remove('over');
    uploadAll(Array.prototype.slice.call(e.dataTransfer.files));
  });
  picker.addEventListener('change', function(){
    uploadAll(Array.prototype.slice.call(picker.files));
    picker.value = '';
  });

  var clipText = document.getElementById('clipText');
  var clipStatus = document.getElementById('clipStatus');
  document.getElementById('sendClip').addEventListener('click', async function(){
    if (clipText.value.trim() === '') { return; }
    var response = await fetch('/api/v1/clipboard', {
      method: 'POST',
      headers: {'Content-Type': 'application/json', 'X-VornSled-PIN': pin()},
      body: JSON.stringify({sender: sender(), text: clipText.value})
    });
    clipStatus.textContent = ok(response.status) ? 'Sleded to this computer!' : 'Error ' + response.status;
  });
  document.getElementById('fetchClip').addEventListener('click', async function(){
    var response = await fetch('/api/v1/clipboard', {headers: {'X-VornSled-PIN': pin()}});
    if (!ok(response.status)) { clipStatus.textContent = 'Error ' + response.status; return; }
    var reply = await response.json();
    if (reply.text) {
      clipText.value = reply.text;
      clipStatus.textContent = 'Loaded from this computer!';
    } else {
      clipStatus.textContent = 'No shared clipboard text yet.';
    }
  });

  var shares = document.getElementById('shares');
  function note(text){
    var line = document.createElement('div');
    line.className = 'sub';
    line.textContent = text;
    shares.appendChild(line);
  }
  async function loadShares(){
    var response = await fetch('/api/v1/shares', {headers: {'X-VornSled-PIN': pin()}});
    shares.textContent = '';
    if (!ok(response.status)) { note('Enter valid PIN to view shared files.'); return; }
    var list = await response.json();
    if (!list.length) { note('No files currently shared from this computer.'); return; }
    list.forEach(function(entry){
      var item = document.createElement('div');
      item.className = 'item';
      var left = document.createElement('div');
      var name = document.createElement('b');
      name.textContent = entry.fileName;
      var digest = document.createElement('div');
      digest.className = 'sub';
      digest.textContent = 'SHA-256: ' + String(entry.sha256Hex).slice(0, 16) + '...';
      left.appendChild(name);
      left.appendChild(digest);
      var link = document.createElement('a');
      link.href = '/api/v1/download/' + encodeURIComponent(entry.id) + '?pin=' + encodeURIComponent(pin());
      var button = document.createElement('button');
      button.textContent = 'Download';
      link.appendChild(button);
      item.appendChild(left);
      item.appendChild(link);
      shares.appendChild(item);
    });
  }
  document.getElementById('refreshShares').addEventListener('click', loadShares);
  loadShares();
})();
</script>
</body>
</html>
)HTML";

}  // namespace

std::string LANWebPortalHTML::escapeHTML(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += c; break;
        }
    }
    return escaped;
}

std::string LANWebPortalHTML::render(std::string_view deviceName, bool requiresPIN) {
    const std::string name = escapeHTML(deviceName);
    std::string page;
    page.reserve(pageHead.size() + styleAndHeaderStart.size() + subtitle.size() + pinBlock.size() +
                 uploadCardStart.size() + clipboardCardStart.size() + sharesCardStart.size() + pageTail.size() +
                 5 * name.size());
    page += pageHead;
    page += name;
    page += styleAndHeaderStart;
    page += name;
    page += subtitle;
    if (requiresPIN) {
        page += pinBlock;
    }
    page += uploadCardStart;
    page += name;
    page += clipboardCardStart;
    page += name;
    page += sharesCardStart;
    page += name;
    page += pageTail;
    return page;
}
