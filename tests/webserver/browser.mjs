// Fills in and submits a form in Debian's headless Chromium, for
// browser_test.py and cross_origin_test.py. Reads a job from standard input:
//   {"profile": DIR, "cases": [{"name", "url", "fields": {NAME: VALUE},
//    "form_png": PATH, "page_png": PATH}]}
// A file input's VALUE is the path of the file to choose. A case may also
// have "wait": a CSS selector whose element's text tells the answer has
// come (a page whose script shows it; default: the page navigates), "read":
// {KEY: CSS selector} texts to report, "evaluate": an expression evaluated
// in the page instead of submitting (a script's own fetch(), say), whose
// value, a promise's once it settles, is reported.
// Writes one JSON line per case: {"name", "status", "title", "text",
// "seconds", "url", "chain", "read", "evaluated"} (the response page as
// rendered; "chain" the responses that led to it, redirects first, each
// {"method", "status", "headers"}), or {"name", "error"}.
import { chromium } from 'playwright-core';
import { readFileSync } from 'node:fs';

const job = JSON.parse(readFileSync(0, 'utf8'));
// A fresh profile, and nothing that talks to anything but the test's server.
const context = await chromium.launchPersistentContext(job.profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
try {
  for (const c of job.cases) {
    try {
      const page = await context.newPage();
      await page.goto(c.url);
      for (const [name, value] of Object.entries(c.fields)) {
        const field = page.locator(`[name="${name}"]`);
        if (await field.getAttribute('type') === 'file') {
          await field.setInputFiles(value);
        } else {
          await field.fill(value);
        }
      }
      await page.screenshot({ path: c.form_png, fullPage: true });
      const start = Date.now();
      let response = null, evaluated = null;
      if (c.evaluate) {
        evaluated = await page.evaluate(c.evaluate);
      } else if (c.wait) {
        await page.click('input[type="submit"]');
        await page.waitForFunction((selector) => {
          const shown = document.querySelector(selector);
          return shown && shown.textContent && !shown.textContent.endsWith('\u2026');
        }, c.wait);
      } else {
        [response] = await Promise.all([
          page.waitForNavigation({ waitUntil: 'load' }),
          page.click('input[type="submit"]'),
        ]);
      }
      const seconds = (Date.now() - start) / 1000;
      await page.screenshot({ path: c.page_png, fullPage: true });
      const chain = [];
      for (let r = response && response.request(); r; r = r.redirectedFrom()) {
        const got = await r.response();
        chain.unshift({ method: r.method(), status: got ? got.status() : 0,
                        headers: got ? await got.allHeaders() : {} });
      }
      const read = {};
      for (const [key, selector] of Object.entries(c.read || {})) {
        read[key] = await page.locator(selector).innerText();
      }
      console.log(JSON.stringify({
        name: c.name, status: response ? response.status() : 0, title: await page.title(),
        text: await page.evaluate(() => document.body ? document.body.innerText : ''), seconds,
        url: page.url(), chain, read, evaluated,
      }));
      await page.close();
    } catch (e) {
      console.log(JSON.stringify({ name: c.name, error: String(e) }));
    }
  }
} finally {
  await context.close();
}
